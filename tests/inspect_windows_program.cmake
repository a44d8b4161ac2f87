# Fails unless PROGRAM is a console program (subsystem CUI) of object format
# FORMAT that imports no DLL beyond Windows' own, and carries its manifest
# (UTF-8 code page, long paths) and version resource, read back with WINDRES.
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${PROGRAM} failed")
endif()
if(NOT dump MATCHES "file format ${FORMAT}")
  message(FATAL_ERROR "${PROGRAM} is not of format ${FORMAT}")
endif()
if(NOT dump MATCHES "Subsystem[ \t]+00000003[ \t]+\\(Windows CUI\\)")
  message(FATAL_ERROR "${PROGRAM} is not a console program")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
foreach(import IN LISTS imports)
  string(REPLACE "DLL Name: " "" dll "${import}")
  string(TOLOWER "${dll}" dll)
  if(NOT dll MATCHES "^(kernel32|msvcrt|user32|advapi32|ntdll)\\.dll$" AND NOT dll MATCHES "^api-ms-win-")
    message(FATAL_ERROR "${PROGRAM} needs ${dll}")
  endif()
endforeach()

get_filename_component(name ${PROGRAM} NAME_WE)
execute_process(COMMAND ${WINDRES} -i ${PROGRAM} -O rc OUTPUT_VARIABLE resources RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${WINDRES} -i ${PROGRAM} -O rc failed")
endif()
foreach(entry
    "1 24 /\\* RT_MANIFEST \\*/"
    "<activeCodePage xmlns=\"\"http://schemas.microsoft.com/SMI/2019/WindowsSettings\"\">UTF-8</activeCodePage>"
    "<longPathAware xmlns=\"\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\"\">true</longPathAware>"
    "1 VERSIONINFO"
    "FILEVERSION 1, 0, 0, 0"
    "PRODUCTVERSION 1, 0, 0, 0"
    "VALUE \"FileDescription\", \"${name}: [^\"]+\""
    "VALUE \"ProductName\", \"obj2xml\""
    "VALUE \"OriginalFilename\", \"${name}.exe\""
    "VALUE \"InternalName\", \"${name}.exe\""
    "VALUE \"LegalCopyright\", \"Copyright \\(c\\) 2026 The obj2xml developers\""
    "VALUE \"FileVersion\", \"1.0.0.0\""
    "VALUE \"ProductVersion\", \"1.0.0.0\"")
  if(NOT resources MATCHES "${entry}")
    message(FATAL_ERROR "${PROGRAM} lacks the resource entry ${entry}")
  endif()
endforeach()
message(STATUS "${PROGRAM}: ${FORMAT}, console, imports ${imports}, manifest and version resource")
