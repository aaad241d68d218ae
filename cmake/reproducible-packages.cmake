# Read by cpack before it packs (CPACK_PROJECT_CONFIG_FILE): without a
# SOURCE_DATE_EPOCH from the user, every file in a package, and the package
# itself, is dated by the last commit of the sources, so that two builds of
# one commit give the same bytes whenever and wherever they are made.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    execute_process(COMMAND git -C "${CPACK_MODEM_DIALMODE_SOURCE_DIR}" log -1 --format=%ct
                    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE no_commit ERROR_QUIET)
    if(no_commit EQUAL 0 AND epoch MATCHES "^[0-9]+$")
        set(ENV{SOURCE_DATE_EPOCH} ${epoch})
    else()
        message(WARNING "No commit dates the package (not a git checkout?): "
                        "set SOURCE_DATE_EPOCH for a reproducible one")
    endif()
endif()
