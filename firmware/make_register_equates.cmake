# The EZ-USB register list of the C header as sdas8051 equates, for the assembly sources,
# which cannot include a C header: one `NAME = 0xADDR` line for each enumerator.
#   cmake -DHEADER=<ezusb_registers.h> -DOUT=<ezusb_registers.inc> -P make_register_equates.cmake
file(READ ${HEADER} text)
string(REGEX REPLACE "/\\*([^*]|\\*+[^*/])*\\*+/" "" code "${text}")  # without comments
string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_]*[ \t]*=[ \t]*0x[0-9A-Fa-f]+" enumerators "${code}")
if(NOT enumerators)
  message(FATAL_ERROR "${HEADER}: no register addresses found")
endif()
set(equates "; Generated from ezusb_registers.h by make_register_equates.cmake.\n")
foreach(enumerator ${enumerators})
  string(REGEX REPLACE "[ \t]*=[ \t]*" " = " equate "${enumerator}")
  string(APPEND equates "\t${equate}\n")
endforeach()
file(WRITE ${OUT} "${equates}")
