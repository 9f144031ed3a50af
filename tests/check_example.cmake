# SPDX-License-Identifier: MIT
# Runs the example program and compares its output with the expected text.
# The compressed file's size, the backend's name and the ratio depend on the
# compression backend, so on the "file:" and "ratio:" lines the numbers and
# the parenthesised backend are compared as placeholders (#, (backend)). The
# "file:" line names the file by its full path, which must be the working
# directory's; it is compared as <dir>. EXAMPLE is the program, after the
# emulator that runs it in a cross build (a list).
execute_process(COMMAND ${EXAMPLE} WORKING_DIRECTORY ${WORKDIR}
  OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "example exited with ${rc}:\n${out}")
endif()
set(masked "")
string(REPLACE "\n" ";" lines "${out}")
foreach(line IN LISTS lines)
  if(line MATCHES "^file: +(.*)/qmdata_roundtrip\\.bin, ")
    file(REAL_PATH "${CMAKE_MATCH_1}" dir)
    file(REAL_PATH "${WORKDIR}" workdir)
    if(NOT dir STREQUAL workdir OR NOT IS_ABSOLUTE "${CMAKE_MATCH_1}")
      message(FATAL_ERROR "the example names '${CMAKE_MATCH_1}', not ${WORKDIR}")
    endif()
    string(REGEX REPLACE "^(file: +).*/" "\\1<dir>/" line "${line}")
  endif()
  if(line MATCHES "^(file|ratio):")
    string(REGEX REPLACE "[0-9]+\\.[0-9]+" "#" line "${line}")
    string(REGEX REPLACE ", [0-9]+ bytes" ", # bytes" line "${line}")
    string(REGEX REPLACE "\\((libdeflate|zlib)\\)" "(backend)" line "${line}")
  endif()
  string(APPEND masked "${line}\n")
endforeach()
file(READ ${EXPECTED} expected)
string(STRIP "${masked}" masked)
string(STRIP "${expected}" expected)
if(NOT masked STREQUAL expected)
  message(FATAL_ERROR "example output differs.\n--- expected\n${expected}--- got\n${masked}")
endif()
