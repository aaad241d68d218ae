# Makes the OpenWrt packages of a cross build (its universal one is meant),
# for each of OpenWrt's names for its cores (ARCHES, comma-separated), in a
# folder named after it, as OpenWrt lays out its own: an .ipk for opkg
# (OpenWrt 24.10 and before) and an .apk for apk (OpenWrt 25.12), each with
# a .sha256 file beside it. Both hold what the feed's
# Makefile installs, the tool and the start-up files (the install components
# tool and openwrt), and no man page, as OpenWrt packages go; both carry
# OpenWrt's usual maintainer scripts, which enable and start the service on
# install and stop and disable it on removal. Two builds of one commit give
# the same bytes (see reproducible-packages.cmake).
#   cmake -DBUILD=DIR -DOUT=DIR -DSOURCE=DIR -DVERSION=X.Y.Z -DDESCRIPTION=TEXT
#         -DCONTACT=TEXT -DARCHES=A,B [-DRELEASE=1] [-DREBUILD=ON] [-DAPK=PATH] -P openwrt-packages.cmake
# REBUILD=ON brings BUILD up to date first (not from within BUILD's own
# build, as its openwrt-packages target runs this). APK is apk-tools 3's apk, whose mkpkg writes the .apk (a format of its own,
# no tarball); without it only the .ipk is made. The .ipk is written here:
# it is three tarballs in a tarball, and OpenWrt's ipkg-build, which makes
# them, lives only in OpenWrt's own tree.
cmake_minimum_required(VERSION 3.20)
if(NOT DEFINED RELEASE)
    set(RELEASE 1)
endif()
set(name modem-dialmode)
set(version ${VERSION}-r${RELEASE})
string(REPLACE "," ";" arches "${ARCHES}")
set(CPACK_MODEM_DIALMODE_SOURCE_DIR ${SOURCE})
include(${CMAKE_CURRENT_LIST_DIR}/reproducible-packages.cmake)
set(epoch $ENV{SOURCE_DATE_EPOCH})

if(REBUILD)
    execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD} --target modem-dialmode
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
endif()
set(work ${OUT}/openwrt)
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work}/root ${work}/control ${work}/apk)
foreach(component tool openwrt)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${work}/root
                            ${CMAKE_COMMAND} --install ${BUILD} --prefix /usr --strip --component ${component}
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
endforeach()
# Whatever the umask of the build, as on OpenWrt.
execute_process(COMMAND chmod -R go-w ${work}/root COMMAND_ERROR_IS_FATAL ANY)
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${work}/root ${work}/root/*)
list(SORT files)
set(size 0)
foreach(file IN LISTS files)
    file(SIZE ${work}/root/${file} bytes)
    math(EXPR size "${size} + ${bytes}")
endforeach()

# tarball(FILE DIR ENTRY...): FILE, a gzip'd tarball of ENTRY... in DIR, in
# that order, owned by root and dated by the commit.
function(tarball file dir)
    execute_process(COMMAND tar -C ${dir} --format=gnu --owner=0 --group=0 --numeric-owner
                            --mtime=@${epoch} --no-recursion -cf - ${ARGN}
                    COMMAND gzip -9n OUTPUT_FILE ${file} COMMAND_ERROR_IS_FATAL ANY)
endfunction()
# What every package's scripts do on OpenWrt: the service's enabling and
# starting, or stopping and disabling, done by /lib/functions.sh for the init
# scripts in the package's list of files.
set(guard "[ -s \"\${IPKG_INSTROOT}/lib/functions.sh\" ] || exit 0\n. \"\${IPKG_INSTROOT}/lib/functions.sh\"\n")
set(no_script "[ \"\${IPKG_NO_SCRIPT}\" = 1 ] && exit 0\n")
set(postinst "#!/bin/sh\n${no_script}${guard}default_postinst \"\$0\" \"\$@\"\n")
# The package's own step, the feed Makefile's Package/modem-dialmode/postinst,
# which default_postinst runs (from the .ipk's postinst-pkg) before it starts
# the service.
file(READ ${SOURCE}/packaging/openwrt/modem-dialmode/Makefile makefile)
string(REGEX MATCH "define Package/modem-dialmode/postinst\n(.*)\nendef" _ "${makefile}")
string(REGEX REPLACE "\nendef.*" "" postinst_pkg "${CMAKE_MATCH_1}")
string(REPLACE "$$" "$" postinst_pkg "${postinst_pkg}\n")
set(prerm "#!/bin/sh\n${guard}default_prerm \"\$0\" \"\$@\"\n")
set(apk_names "export root=\"\${IPKG_INSTROOT}\" pkgname=${name}\n")

# The .ipk.
set(entries .)
foreach(file IN LISTS files)
    get_filename_component(dir ${file} DIRECTORY)
    while(dir AND NOT ./${dir} IN_LIST entries)
        list(APPEND entries ./${dir})
        get_filename_component(dir ${dir} DIRECTORY)
    endwhile()
    list(APPEND entries ./${file})
endforeach()
list(SORT entries)
tarball(${work}/data.tar.gz ${work}/root ${entries})
file(WRITE ${work}/control/postinst "${postinst}")
file(WRITE ${work}/control/postinst-pkg "${postinst_pkg}")
file(WRITE ${work}/control/prerm "${prerm}")
file(CHMOD ${work}/control/postinst ${work}/control/postinst-pkg ${work}/control/prerm PERMISSIONS
     OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# The settings an upgrade keeps.
file(WRITE ${work}/control/conffiles "/etc/config/${name}\n")
file(WRITE ${work}/debian-binary "2.0\n")
set(packages "")
foreach(arch IN LISTS arches)
    file(MAKE_DIRECTORY ${OUT}/${arch})
    file(WRITE ${work}/control/control "Package: ${name}\nVersion: ${version}\nSourceName: ${name}\n\
Section: utils\nSourceDateEpoch: ${epoch}\nMaintainer: ${CONTACT}\nArchitecture: ${arch}\n\
Installed-Size: ${size}\nDescription: ${DESCRIPTION}\n")
    tarball(${work}/control.tar.gz ${work}/control . ./conffiles ./control ./postinst ./postinst-pkg ./prerm)
    set(ipk ${OUT}/${arch}/${name}_${version}_${arch}.ipk)
    tarball(${ipk} ${work} ./debian-binary ./data.tar.gz ./control.tar.gz)
    list(APPEND packages ${ipk})
endforeach()

# The .apk: the same files, and the list of them that /lib/functions.sh reads
# on an apk system.
if(APK AND NOT EXISTS ${APK})
    message(STATUS "No apk at ${APK}: no .apk")
elseif(APK)
    list(TRANSFORM files PREPEND / OUTPUT_VARIABLE listed)
    list(JOIN listed "\n" listed)
    file(WRITE ${work}/root/lib/apk/packages/${name}.list "${listed}\n")
    file(WRITE ${work}/root/lib/apk/packages/${name}.conffiles "/etc/config/${name}\n")
    # apk keeps no postinst-pkg: its step comes first, as default_postinst
    # would have run it.
    string(REGEX REPLACE "^#!/bin/sh\n" "" step "${postinst_pkg}")
    string(REPLACE "default_postinst \"\$0\" \"\$@\"" "${apk_names}(\n${step})\ndefault_postinst"
           apk_postinst "${postinst}")
    string(REPLACE "default_prerm \"\$0\" \"\$@\"" "${apk_names}default_prerm" apk_prerm "${prerm}")
    file(WRITE ${work}/apk/post-install "${apk_postinst}")
    file(WRITE ${work}/apk/pre-deinstall "${apk_prerm}")
    foreach(arch IN LISTS arches)
        set(apk ${OUT}/${arch}/${name}-${version}.apk)
        execute_process(COMMAND ${APK} mkpkg --info name:${name} --info version:${version}
                                --info "description:${DESCRIPTION}" --info arch:${arch}
                                --info origin:${name} "--info" "maintainer:${CONTACT}"
                                --script post-install:${work}/apk/post-install
                                --script pre-deinstall:${work}/apk/pre-deinstall
                                --files ${work}/root --output ${apk}
                        COMMAND_ERROR_IS_FATAL ANY)
        list(APPEND packages ${apk})
    endforeach()
endif()

foreach(package IN LISTS packages)
    file(SHA256 ${package} sum)
    get_filename_component(package_name ${package} NAME)
    file(WRITE ${package}.sha256 "${sum}  ${package_name}\n")
    message(STATUS "${package_name}")
endforeach()
