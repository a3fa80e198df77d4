# Renders the manual page as plain ASCII text with CR LF line ends, for
# readers on Windows, who have no man. Run with -DGROFF=, -DPAGE= and -DTEXT=.
execute_process(COMMAND "${GROFF}" -man -Tascii -P-c -P-b -P-u -ww "${PAGE}"
                OUTPUT_VARIABLE text ERROR_VARIABLE warnings RESULT_VARIABLE failed)
if(failed OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "the manual does not render cleanly:\n${warnings}")
endif()
# A character grotty draws by striking one over another (a bullet is + and o)
# keeps only the last one: plain text has no backspaces.
string(ASCII 8 backspace)
string(REGEX REPLACE ".${backspace}" "" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${TEXT}" "${text}")
