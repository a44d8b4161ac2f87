# The Windows programs: cross-built here with MinGW-w64, inspected, and run
# through Wine by the same process-level tests: the 64-bit one directly, the
# 32-bit one, whose code this machine's kernel refuses, through Wine's 32-bit
# loader under qemu's user-mode emulator where tools/setup-win32-runner.sh
# has set that up.
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
  ENVIRONMENT "WINEDEBUG=-all;WINEPREFIX=${wine_prefix};WINEDLLOVERRIDES=winedbg.exe=d" FIXTURES_SETUP wine_prefix)

add_test(NAME windows-x64.documented_commands.run_as_written
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/documented_commands.sh --windows ${WINE64}
          ${CMAKE_BINARY_DIR}/windows-x64/obj2xml.exe)
set_tests_properties(windows-x64.documented_commands.run_as_written PROPERTIES
  ENVIRONMENT "WINEDEBUG=-all;WINEPREFIX=${wine_prefix};WINEDLLOVERRIDES=winedbg.exe=d" FIXTURES_REQUIRED wine_prefix)

gtest_discover_tests(program_tests
  EXTRA_ARGS --program ${CMAKE_BINARY_DIR}/windows-x64/obj2xml.exe --runner ${WINE64} --windows
             --setenv WINEDEBUG=-all --setenv WINEPREFIX=${wine_prefix} --setenv WINEDLLOVERRIDES=winedbg.exe=d
  TEST_PREFIX "windows-x64."
  PROPERTIES FIXTURES_REQUIRED wine_prefix
  DISCOVERY_MODE PRE_TEST)

# The 32-bit program. One wineserver, kept alive across the runs, spares
# each run the server's start under the emulator; with the debugger off, a
# crash is a failure and not a report that ends with status 0.
set(WIN32_PREFIX /var/cache/obj2xml/wine32-prefix CACHE PATH "32-bit Wine prefix made by tools/setup-win32-runner.sh")
set(wine32_loader /usr/lib/wine/wine)
if(NOT (EXISTS ${WIN32_PREFIX}/.obj2xml-win32-ready AND EXISTS /proc/sys/fs/binfmt_misc/qemu-i386
        AND EXISTS ${wine32_loader}))
  set(why "32-bit Windows tests skipped: run tools/setup-win32-runner.sh as root, then configure again")
  message(WARNING "${why}")
  add_test(NAME windows-x86.runner_missing COMMAND sh -c "echo '${why}'; exit 77")
  set_tests_properties(windows-x86.runner_missing PROPERTIES SKIP_RETURN_CODE 77)
  return()
endif()

set(wine32_environment WINEDEBUG=-all WINEPREFIX=${WIN32_PREFIX} WINEDLLOVERRIDES=winedbg.exe=d)
# A server left from an earlier run would refuse to start another. The
# server goes on in the background: it must hold none of the test's output.
# A first run starts the prefix's services, which takes seconds here.
add_test(NAME windows-x86.wineserver_start
  COMMAND sh -c "/usr/lib/wine/wineserver -k 2>/dev/null; /usr/lib/wine/wineserver -w; /usr/lib/wine/wineserver -p >/dev/null 2>&1 </dev/null && { timeout 120 ${wine32_loader} ${CMAKE_BINARY_DIR}/windows-x86/obj2xml.exe >/dev/null 2>&1 </dev/null; true; }")
add_test(NAME windows-x86.wineserver_stop COMMAND /usr/lib/wine/wineserver -k)
set_tests_properties(windows-x86.wineserver_start PROPERTIES ENVIRONMENT "${wine32_environment}"
  FIXTURES_SETUP wine32_server TIMEOUT 300)
set_tests_properties(windows-x86.wineserver_stop PROPERTIES ENVIRONMENT "${wine32_environment}"
  FIXTURES_CLEANUP wine32_server)
set(wine32_arguments)
foreach(variable IN LISTS wine32_environment)
  list(APPEND wine32_arguments --setenv ${variable})
endforeach()
gtest_discover_tests(program_tests
  EXTRA_ARGS --program ${CMAKE_BINARY_DIR}/windows-x86/obj2xml.exe --runner ${wine32_loader} --windows
             --emulated ${wine32_arguments}
  TEST_PREFIX "windows-x86."
  PROPERTIES FIXTURES_REQUIRED wine32_server
  DISCOVERY_MODE PRE_TEST)
