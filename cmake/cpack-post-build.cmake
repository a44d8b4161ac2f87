# After packaging, what CPack takes from the builder is made fixed: the
# .deb's members get mode 0644; the .tar.gz's entries are sorted by name and
# owned by root, with bits that do not follow the umask; the zips' entries
# are sorted, owned by no one, and dated as SOURCE_DATE_EPOCH says
# (strip-nondeterminism, where it is installed).
set(epoch "$ENV{SOURCE_DATE_EPOCH}")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(package MATCHES "\\.deb$")
    execute_process(COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/normalize-deb.sh ${package} COMMAND_ERROR_IS_FATAL ANY)
  elseif(package MATCHES "\\.tar\\.gz$" AND NOT epoch STREQUAL "")
    set(tree ${package}.tree)
    file(REMOVE_RECURSE ${tree})
    file(MAKE_DIRECTORY ${tree})
    execute_process(COMMAND tar -xzf ${package} -C ${tree} COMMAND_ERROR_IS_FATAL ANY)
    execute_process(
      COMMAND sh -c "cd \"$1\" && tar --sort=name --mtime=@$2 --owner=0 --group=0 --numeric-owner \
                     --mode=u+rwX,go=rX --format=gnu -cf - * | gzip -9n > \"$3\"" sh ${tree} ${epoch} ${package}
      COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE_RECURSE ${tree})
  elseif(package MATCHES "\\.zip$" AND NOT epoch STREQUAL "")
    find_program(STRIP_NONDETERMINISM strip-nondeterminism)
    if(STRIP_NONDETERMINISM)
      execute_process(COMMAND ${STRIP_NONDETERMINISM} -t zip -T ${epoch} ${package} COMMAND_ERROR_IS_FATAL ANY)
    else()
      message(WARNING "strip-nondeterminism (Debian's package) not found: ${package} keeps its entries' order and owner")
    endif()
  endif()
endforeach()
