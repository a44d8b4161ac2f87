# The Windows programs: cross-built here with MinGW-w64, inspected, and run
# through Wine by the same process-level tests: the 64-bit one directly, the
# 32-bit one through Wine's 32-bit loader under qemu's user-mode emulator
# (which runs it even where the kernel refuses 32-bit code), where
# tools/setup-windows-runners.sh has set that up.
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

# Each Windows program is built as its preset builds it, with warnings as
# errors, in a folder of this build: the preset's own folder is the Windows
# workflow's, which shows warnings only.
include(ExternalProject)
foreach(arch x86 x64)
  set(dir ${CMAKE_BINARY_DIR}/windows-${arch})
  ExternalProject_Add(obj2xml_windows_${arch}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${dir}
    CONFIGURE_COMMAND ${CMAKE_COMMAND} -S ${PROJECT_SOURCE_DIR} --preset windows-${arch} -B ${dir}
                      -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
    # The nested make cannot join this build's job server; told of none, it runs one job.
    BUILD_COMMAND ${CMAKE_COMMAND} -E env --unset=MAKEFLAGS ${CMAKE_COMMAND} --build ${dir}
    BUILD_BYPRODUCTS ${dir}/obj2xml.exe ${dir}/xml2obj.exe
    BUILD_ALWAYS ON
    INSTALL_COMMAND "")
  add_dependencies(program_tests obj2xml_windows_${arch})
endforeach()
set(x86_program ${CMAKE_BINARY_DIR}/windows-x86/obj2xml.exe)
set(x64_program ${CMAKE_BINARY_DIR}/windows-x64/obj2xml.exe)

foreach(program obj2xml xml2obj)
  add_test(NAME windows-x86.${program}_is_32bit_console_program_without_foreign_dlls
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${MINGW_OBJDUMP} -DWINDRES=${MINGW_WINDRES}
            -DPROGRAM=${CMAKE_BINARY_DIR}/windows-x86/${program}.exe
            -DFORMAT=pei-i386 -P ${CMAKE_CURRENT_SOURCE_DIR}/inspect_windows_program.cmake)
  add_test(NAME windows-x64.${program}_is_64bit_console_program_without_foreign_dlls
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${MINGW_OBJDUMP} -DWINDRES=${MINGW_WINDRES}
            -DPROGRAM=${CMAKE_BINARY_DIR}/windows-x64/${program}.exe
            -DFORMAT=pei-x86-64 -P ${CMAKE_CURRENT_SOURCE_DIR}/inspect_windows_program.cmake)
endforeach()

# Starts the prefix's Wine server and its services unless they run already,
# and leaves them for the next run: their start takes seconds, and tens of
# seconds under the emulator. The server ends after 30 minutes without a
# program to run. It goes on in the background: it must hold none of the
# test's output. Arguments: the name's prefix, the Wine prefix, the loader
# and the program.
function(add_wine_server_fixture name wine_prefix loader program)
  set(environment WINEDEBUG=-all WINEPREFIX=${wine_prefix} WINEDLLOVERRIDES=winedbg.exe=d)
  add_test(NAME ${name}.wineserver_start
    COMMAND sh -c "/usr/lib/wine/wineserver -p1800 >/dev/null 2>&1 </dev/null; timeout 120 ${loader} ${program} >/dev/null 2>&1 </dev/null; true")
  set_tests_properties(${name}.wineserver_start PROPERTIES ENVIRONMENT "${environment}"
    FIXTURES_SETUP ${name}_server TIMEOUT 300)
  get_filename_component(folder ${program} DIRECTORY)
  set(arguments --program ${program} --rebuilder ${folder}/xml2obj.exe --runner ${loader} --windows)
  foreach(variable IN LISTS environment)
    list(APPEND arguments --setenv ${variable})
  endforeach()
  set(${name}_arguments ${arguments} PARENT_SCOPE)
  set(${name}_environment ${environment} PARENT_SCOPE)
endfunction()

# The 64-bit program, in the prefix tools/setup-windows-runners.sh makes once for the machine.
set(WIN64_PREFIX /var/cache/obj2xml/wine64-prefix CACHE PATH "64-bit Wine prefix made by tools/setup-windows-runners.sh")
if(NOT EXISTS ${WIN64_PREFIX}/.obj2xml-ready)
  set(why "64-bit Windows tests skipped: run tools/setup-windows-runners.sh as root, then configure again")
  message(WARNING "${why}")
  add_test(NAME windows-x64.runner_missing COMMAND sh -c "echo '${why}'; exit 77")
  set_tests_properties(windows-x64.runner_missing PROPERTIES SKIP_RETURN_CODE 77)
  return()
endif()
add_wine_server_fixture(windows-x64 ${WIN64_PREFIX} ${WINE64} ${x64_program})

add_test(NAME windows-x64.documented_commands.run_as_written
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/documented_commands.sh --windows ${WINE64} ${x64_program})
set_tests_properties(windows-x64.documented_commands.run_as_written PROPERTIES
  ENVIRONMENT "${windows-x64_environment}" FIXTURES_REQUIRED windows-x64_server)

gtest_discover_tests(program_tests
  EXTRA_ARGS ${windows-x64_arguments}
  TEST_PREFIX "windows-x64."
  PROPERTIES FIXTURES_REQUIRED windows-x64_server
  DISCOVERY_MODE PRE_TEST)

# The 32-bit program, through Wine's 32-bit loader under qemu where
# tools/setup-windows-runners.sh has set that up. With the debugger off, a
# crash is a failure and not a report that ends with status 0.
set(WIN32_PREFIX /var/cache/obj2xml/wine32-prefix CACHE PATH "32-bit Wine prefix made by tools/setup-windows-runners.sh")
set(wine32_loader /usr/lib/wine/wine)
if(NOT (EXISTS ${WIN32_PREFIX}/.obj2xml-ready AND EXISTS /proc/sys/fs/binfmt_misc/qemu-i386
        AND EXISTS ${wine32_loader}))
  set(why "32-bit Windows tests skipped: run tools/setup-windows-runners.sh as root, then configure again")
  message(WARNING "${why}")
  add_test(NAME windows-x86.runner_missing COMMAND sh -c "echo '${why}'; exit 77")
  set_tests_properties(windows-x86.runner_missing PROPERTIES SKIP_RETURN_CODE 77)
  return()
endif()

add_wine_server_fixture(windows-x86 ${WIN32_PREFIX} ${wine32_loader} ${x86_program})
gtest_discover_tests(program_tests
  EXTRA_ARGS ${windows-x86_arguments} --emulated
  TEST_PREFIX "windows-x86."
  PROPERTIES FIXTURES_REQUIRED windows-x86_server
  DISCOVERY_MODE PRE_TEST)
