# Runs the example program and compares its output with the expected text.
execute_process(COMMAND ${EXAMPLE} WORKING_DIRECTORY ${WORKDIR}
  OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "example exited with ${rc}:\n${out}")
endif()
file(READ ${EXPECTED} expected)
if(NOT out STREQUAL expected)
  message(FATAL_ERROR "example output differs.\n--- expected\n${expected}--- got\n${out}")
endif()
