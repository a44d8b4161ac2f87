# Fails when groff warns about anything in the man page MAN_PAGE.
execute_process(COMMAND groff -man -ww -z ${MAN_PAGE} ERROR_VARIABLE warnings RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "groff on ${MAN_PAGE}:\n${warnings}")
endif()
