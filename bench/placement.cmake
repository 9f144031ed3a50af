# SPDX-License-Identifier: MIT
# The placement sweep's peer, the __restrict loops at -O3 -march=native, and
# the library's own choice of instruction-set level, which the sweep prints
# (the same choice the library makes, from the same CPU and QMDATA_ISA).
if(TARGET placement_bench)
  target_sources(placement_bench PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/placement_native.cc)
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/placement_native.cc
    PROPERTIES COMPILE_OPTIONS "-O3;-march=native")
  target_link_libraries(placement_bench PRIVATE qmdata_kernels_internal)
endif()
