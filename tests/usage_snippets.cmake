# SPDX-License-Identifier: MIT
# usage_snippets_test: every ```cpp block of docs/USAGE.md, so that the guide
# keeps compiling against the headers. A block that starts with #include goes
# to the top of the file; every other one is the body of a test named after
# its first line in USAGE.md, which #line gives the compiler's messages too.
# The tests run in this directory (the round trip writes its file here).
set(_usage ${PROJECT_SOURCE_DIR}/docs/USAGE.md)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_usage})
file(READ ${_usage} _rest)
set(_head "#include <gtest/gtest.h>\n")
set(_tests "")
set(_line 1)
set(_code "")
string(FIND "${_rest}" "```cpp\n" _at)
while(_at GREATER -1)
  math(EXPR _at "${_at} + 7")
  string(SUBSTRING "${_rest}" 0 ${_at} _before)
  string(SUBSTRING "${_rest}" ${_at} -1 _rest)
  string(FIND "${_rest}" "\n```\n" _end)
  math(EXPR _end "${_end} + 1")
  # The block's first line: past the previous block and the text since.
  string(REGEX REPLACE "[^\n]" "" _nl "${_code}${_before}")
  string(LENGTH "${_nl}" _n)
  math(EXPR _line "${_line} + ${_n}")
  string(SUBSTRING "${_rest}" 0 ${_end} _code)
  string(SUBSTRING "${_rest}" ${_end} -1 _rest)
  if(_code MATCHES "^#include")
    string(APPEND _head "#line ${_line} \"${_usage}\"\n${_code}")
  else()
    string(APPEND _tests "TEST(UsageSnippet, Line${_line}) {\n"
      "#line ${_line} \"${_usage}\"\n${_code}}\n")
  endif()
  string(FIND "${_rest}" "```cpp\n" _at)
endwhile()
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/usage_snippets.new "${_head}${_tests}")
configure_file(${CMAKE_CURRENT_BINARY_DIR}/usage_snippets.new
  ${CMAKE_CURRENT_BINARY_DIR}/usage_snippets_test.cc COPYONLY)
qmdata_add_test(usage_snippets_test)
