# After packaging: the .deb's members get modes that do not depend on the umask.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(package MATCHES "\\.deb$")
    execute_process(COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/normalize-deb.sh ${package} COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()
