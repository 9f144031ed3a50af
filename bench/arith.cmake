# SPDX-License-Identifier: MIT
# Peers of the arithmetic benchmark: the plain loops at the library's flags
# and again at -O3 -march=native, std::valarray (in the program itself) and,
# when installed, Eigen.
if(TARGET arith_bench)
  target_sources(arith_bench PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/arith_peer.cc
    ${CMAKE_CURRENT_LIST_DIR}/arith_native.cc)
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/arith_native.cc
    PROPERTIES COMPILE_OPTIONS "-O3;-march=native")
  find_package(Eigen3 3.3 QUIET NO_MODULE)
  if(TARGET Eigen3::Eigen)
    target_link_libraries(arith_bench PRIVATE Eigen3::Eigen)
    target_compile_definitions(arith_bench PRIVATE QMDATA_BENCH_EIGEN=1)
  else()
    message(STATUS "arith_bench: Eigen3 not found, its peers are left out")
  endif()
endif()
