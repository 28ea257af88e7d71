# Runs the Windows program under wine with empty standard input and compares its exit
# code and its standard output byte for byte. The expected text is given in UTF-8 with
# "|" for each line end; the program must send it in CP932 with the CR LF of a Windows
# text stream.
# Variables: EMULATOR, PROGRAM, ARGUMENTS (separated by commas), EXPECTED, EXPECTED_CODE, WORK.
string(REPLACE "," ";" arguments "${ARGUMENTS}")
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${arguments}
  WORKING_DIRECTORY ${WORK} INPUT_FILE /dev/null OUTPUT_FILE ${WORK}/stdout.bin
  RESULT_VARIABLE code)

string(REPLACE "|" "\r\n" expected "${EXPECTED}")
file(WRITE ${WORK}/expected.utf8 "${expected}")
execute_process(COMMAND iconv -f UTF-8 -t CP932 ${WORK}/expected.utf8
  OUTPUT_FILE ${WORK}/expected.bin RESULT_VARIABLE converted)
if(NOT converted EQUAL 0)
  message(FATAL_ERROR "iconv could not convert the expected text")
endif()

file(READ ${WORK}/stdout.bin actual HEX)
file(READ ${WORK}/expected.bin wanted HEX)
if(NOT actual STREQUAL wanted)
  message(FATAL_ERROR "output differs\n  expected ${wanted}\n  actual   ${actual}")
endif()
if(NOT code EQUAL EXPECTED_CODE)
  message(FATAL_ERROR "exit code ${code}, expected ${EXPECTED_CODE}")
endif()
