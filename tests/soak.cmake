# SPDX-License-Identifier: MIT
# The concurrency soak (tests/vector_soak.cc), a long run for the fuzz
# campaign (fuzz/run campaign) under the tsan preset. It is built only on
# request (cmake --build --preset tsan --target vector_soak); with
# -DQMDATA_SOAK=ON it is also built by default and registered with ctest
# under the label "soak" (ctest -L soak).
option(QMDATA_SOAK "build the concurrency soak and register it (label soak)" OFF)
if(QMDATA_SOAK)
  add_executable(vector_soak ${CMAKE_CURRENT_SOURCE_DIR}/vector_soak.cc)
  add_test(NAME vector_soak COMMAND vector_soak 60 8)
  set_tests_properties(vector_soak PROPERTIES LABELS soak TIMEOUT 900)
else()
  add_executable(vector_soak EXCLUDE_FROM_ALL ${CMAKE_CURRENT_SOURCE_DIR}/vector_soak.cc)
endif()
target_link_libraries(vector_soak PRIVATE qmdata::qmdata Threads::Threads)
target_include_directories(vector_soak PRIVATE ${PROJECT_SOURCE_DIR}/src)
