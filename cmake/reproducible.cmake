# What makes the packages the same bytes when built again from the same
# commit: every file's time is the last commit's (SOURCE_DATE_EPOCH, which
# CPack follows, where the builder has not set it), a zip's local times are
# UTC's, folders get the same permission bits whatever the umask, and
# cpack-post-build.cmake fixes what CPack takes from the builder. A source
# archive made by `git archive` carries the commit's time in
# cmake/source-date-epoch.txt.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(source_date_epoch "$ENV{SOURCE_DATE_EPOCH}")
if(source_date_epoch STREQUAL "")
  execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE source_date_epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(source_date_epoch STREQUAL "")
  file(STRINGS ${PROJECT_SOURCE_DIR}/cmake/source-date-epoch.txt source_date_epoch REGEX "^[0-9]+$" LIMIT_COUNT 1)
endif()
if(NOT source_date_epoch STREQUAL "")
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackSourceDateEpoch.cmake)
  file(WRITE ${CPACK_PROJECT_CONFIG_FILE}
       "if(\"\$ENV{SOURCE_DATE_EPOCH}\" STREQUAL \"\")\n  set(ENV{SOURCE_DATE_EPOCH} ${source_date_epoch})\nendif()\n"
       "set(ENV{TZ} UTC0)\n")
endif()
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/cpack-post-build.cmake)
