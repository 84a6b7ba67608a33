# Renders the manual page PAGE as plain text into OUT, with Windows line
# ends, for the Windows zips: groff's terminal output without escapes or
# overstriking, 78 columns wide.
execute_process(COMMAND ${GROFF} -man -Tascii -P-cbou -rLL=78n ${PAGE}
                OUTPUT_VARIABLE text RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "groff could not render ${PAGE}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
