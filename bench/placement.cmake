# SPDX-License-Identifier: MIT
# The placement sweep's peers, the __restrict loops at -O3 -march=native
# (and without AVX-512, the peer of the library's AVX2 level), and
# the library's own choice of instruction-set level, which the sweep prints
# (the same choice the library makes, from the same CPU and QMDATA_ISA).
if(TARGET placement_bench)
  target_sources(placement_bench PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/placement_native.cc
    ${CMAKE_CURRENT_LIST_DIR}/placement_native_avx2.cc)
  # Each loop on a 64-byte boundary: a loop of a few bytes that the linker
  # puts across a cache line is fetched in two lines per iteration, so the
  # peers are timed at their best wherever they land.
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/placement_native.cc
    PROPERTIES COMPILE_OPTIONS "-O3;-march=native;-falign-loops=64")
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/placement_native_avx2.cc
    PROPERTIES COMPILE_OPTIONS "-O3;-march=native;-mno-avx512f;-falign-loops=64")
  target_link_libraries(placement_bench PRIVATE qmdata_kernels_internal)
endif()
