# The Windows programs: cross-built here with MinGW-w64, inspected, and the
# 64-bit one run through Wine by the same process-level tests. This
# machine's kernel runs no 32-bit code, so the 32-bit program is inspected only.
find_program(MINGW_X86_CXX i686-w64-mingw32-g++)
find_program(MINGW_X64_CXX x86_64-w64-mingw32-g++)
find_program(MINGW_OBJDUMP x86_64-w64-mingw32-objdump)
find_program(MINGW_WINDRES x86_64-w64-mingw32-windres)
find_program(WINE64 wine64 PATHS /usr/lib/wine)

if(NOT (MINGW_X86_CXX AND MINGW_X64_CXX AND MINGW_OBJDUMP AND MINGW_WINDRES AND WINE64))
  message(WARNING "Windows tests skipped: install g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64")
  add_test(NAME windows.not_built
    COMMAND sh -c "echo 'Windows tests skipped: install g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64'; exit 77")
  set_tests_properties(windows.not_built PROPERTIES SKIP_RETURN_CODE 77)
  return()
endif()

include(ExternalProject)
foreach(arch x86 x64)
  set(dir ${CMAKE_BINARY_DIR}/windows-${arch})
  ExternalProject_Add(obj2xml_windows_${arch}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${dir}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/windows-${arch}.cmake
               -DCMAKE_BUILD_TYPE=Release -DOBJ2XML_STATIC=ON -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
    BUILD_BYPRODUCTS ${dir}/obj2xml.exe
    BUILD_ALWAYS ON
    INSTALL_COMMAND "")
  add_dependencies(program_tests obj2xml_windows_${arch})
endforeach()

add_test(NAME windows-x86.is_32bit_console_program_without_foreign_dlls
  COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${MINGW_OBJDUMP} -DWINDRES=${MINGW_WINDRES} -DPROGRAM=${CMAKE_BINARY_DIR}/windows-x86/obj2xml.exe
          -DFORMAT=pei-i386 -P ${CMAKE_CURRENT_SOURCE_DIR}/inspect_windows_program.cmake)
add_test(NAME windows-x64.is_64bit_console_program_without_foreign_dlls
  COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${MINGW_OBJDUMP} -DWINDRES=${MINGW_WINDRES} -DPROGRAM=${CMAKE_BINARY_DIR}/windows-x64/obj2xml.exe
          -DFORMAT=pei-x86-64 -P ${CMAKE_CURRENT_SOURCE_DIR}/inspect_windows_program.cmake)

# Wine's first start makes its prefix, which takes seconds; do it once.
set(wine_prefix ${CMAKE_BINARY_DIR}/wineprefix)
add_test(NAME windows-x64.wine_prefix COMMAND ${WINE64} wineboot --init)
set_tests_properties(windows-x64.wine_prefix PROPERTIES
  ENVIRONMENT "WINEDEBUG=-all;WINEPREFIX=${wine_prefix}" FIXTURES_SETUP wine_prefix)

gtest_discover_tests(program_tests
  EXTRA_ARGS --program ${CMAKE_BINARY_DIR}/windows-x64/obj2xml.exe --runner ${WINE64} --windows
             --setenv WINEDEBUG=-all --setenv WINEPREFIX=${wine_prefix}
  TEST_PREFIX "windows-x64."
  PROPERTIES FIXTURES_REQUIRED wine_prefix
  DISCOVERY_MODE PRE_TEST)
