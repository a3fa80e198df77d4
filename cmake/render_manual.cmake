# Renders the manual page as plain ASCII text with CR LF line ends, for
# readers on Windows, who have no man. Run with -DGROFF=, -DPAGE= and -DTEXT=.
execute_process(COMMAND "${GROFF}" -man -Tascii -P-c -P-b -P-u -ww "${PAGE}"
                OUTPUT_VARIABLE text ERROR_VARIABLE warnings RESULT_VARIABLE failed)
if(failed OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "the manual does not render cleanly:\n${warnings}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${TEXT}" "${text}")
