# Renders a manual page as the plain-text manual of the Windows zip: the page's Windows text
# (register W set), UTF-8 without bold or underline, and the CRLF line ends of Notepad. Made
# from the page at build time, so that the two cannot drift apart.
# Run as: cmake -DPAGE=man/profiledesk.1 -DOUTPUT=profiledesk-manual.txt -P this file
cmake_minimum_required(VERSION 3.25)
find_program(GROFF groff REQUIRED)
# -rHY=0: no word is broken at a line's end; -P-cbou: plain characters, no overstriking.
execute_process(COMMAND ${GROFF} -man -Tutf8 -P-cbou -rLL=80n -rHY=0 -rW1 -ww ${PAGE}
                OUTPUT_VARIABLE text ERROR_VARIABLE warnings RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "groff could not render ${PAGE} for Windows (status ${status}): ${warnings}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUTPUT} "${text}")
