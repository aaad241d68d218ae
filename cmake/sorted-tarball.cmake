# Run by cpack on each package before it is copied out and checksummed
# (CPACK_POST_BUILD_SCRIPTS). CPack writes a tarball's entries in the order
# the file system lists them, which another machine may not share: the
# tarball is packed again with its names sorted, owned by root, every entry
# dated by SOURCE_DATE_EPOCH (its top folder, which CPack leaves out, too),
# and no name or date in the gzip header.
set(dated "")
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(dated "--mtime=@$ENV{SOURCE_DATE_EPOCH}")
endif()
foreach(package IN LISTS CPACK_PACKAGE_FILES)
    if(NOT package MATCHES "\\.tar\\.gz$")
        continue()
    endif()
    set(unpacked "${package}.unpacked")
    file(REMOVE_RECURSE "${unpacked}")
    file(MAKE_DIRECTORY "${unpacked}")
    execute_process(COMMAND tar -xzf "${package}" -C "${unpacked}" COMMAND_ERROR_IS_FATAL ANY)
    file(GLOB top RELATIVE "${unpacked}" "${unpacked}/*")
    execute_process(COMMAND tar -C "${unpacked}" --sort=name --format=gnu --owner=0 --group=0
                            --numeric-owner ${dated} -cf - ${top}
                    COMMAND gzip -9n
                    OUTPUT_FILE "${package}" COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE_RECURSE "${unpacked}")
endforeach()
