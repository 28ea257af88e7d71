# Turns the linker's Intel HEX output into the 4096-byte firmware image and
# writes it as a C++ constant block.
#   cmake -DIHX=<in.ihx> -DOUT_CPP=<out.cpp> -P make_image.cmake
# Gaps inside the firmware hold 0x00; every byte from the end of the firmware
# to 0x0FFF holds 0xAA.
set(size 4096)

file(STRINGS ${IHX} records NO_HEX_CONVERSION)
string(REPEAT "00" ${size} image)
set(end 0)
foreach(record ${records})
  if(NOT record MATCHES "^:([0-9A-Fa-f][0-9A-Fa-f])([0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f])([0-9A-Fa-f][0-9A-Fa-f])([0-9A-Fa-f]*)$")
    message(FATAL_ERROR "${IHX}: not an Intel HEX record: ${record}")
  endif()
  set(count_hex ${CMAKE_MATCH_1})
  set(address_hex ${CMAKE_MATCH_2})
  set(type ${CMAKE_MATCH_3})
  set(rest ${CMAKE_MATCH_4})
  if(type STREQUAL "01")
    break()
  elseif(NOT type STREQUAL "00")
    message(FATAL_ERROR "${IHX}: unexpected record type ${type}")
  endif()
  math(EXPR count "0x${count_hex}")
  math(EXPR address "0x${address_hex}")
  math(EXPR data_chars "${count} * 2")
  string(LENGTH "${rest}" rest_chars)
  math(EXPR expected_chars "${data_chars} + 2")
  if(NOT rest_chars EQUAL expected_chars)
    message(FATAL_ERROR "${IHX}: record length does not match its count: ${record}")
  endif()
  # Checksum: all bytes of the record, checksum included, sum to 0 modulo 256.
  string(SUBSTRING "${record}" 1 -1 body)
  string(LENGTH "${body}" body_chars)
  set(sum 0)
  set(i 0)
  while(i LESS body_chars)
    string(SUBSTRING "${body}" ${i} 2 byte)
    math(EXPR sum "(${sum} + 0x${byte}) % 256")
    math(EXPR i "${i} + 2")
  endwhile()
  if(NOT sum EQUAL 0)
    message(FATAL_ERROR "${IHX}: bad checksum: ${record}")
  endif()
  math(EXPR record_end "${address} + ${count}")
  if(record_end GREATER size)
    message(FATAL_ERROR "The firmware does not fit ${size} bytes: it reaches ${record_end}")
  endif()
  if(count GREATER 0)
    if(record_end GREATER end)
      set(end ${record_end})
    endif()
    string(SUBSTRING "${rest}" 0 ${data_chars} data)
    math(EXPR offset "${address} * 2")
    math(EXPR after "${offset} + ${data_chars}")
    string(SUBSTRING "${image}" 0 ${offset} head)
    string(SUBSTRING "${image}" ${after} -1 tail)
    set(image "${head}${data}${tail}")
  endif()
endforeach()

math(EXPR fill "${size} - ${end}")
math(EXPR used_chars "${end} * 2")
string(SUBSTRING "${image}" 0 ${used_chars} image)
string(REPEAT "AA" ${fill} filling)
string(TOLOWER "${image}${filling}" image)

# Sixteen bytes a line.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${image}")
set(byte "0x[0-9a-f][0-9a-f],")
string(REGEX REPLACE "(${byte}${byte}${byte}${byte}${byte}${byte}${byte}${byte}${byte}${byte}${byte}${byte}${byte}${byte}${byte}${byte})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUT_CPP}
"// Generated from the firmware build; do not edit.
// Firmware proper: ${end} bytes, the rest of the 4096 is 0xAA.
#include \"firmware_image.h\"

const unsigned char firmware_image[firmware_image_size] = {
${bytes}};
")
