# The kernel tests call every instruction-set level's loops directly, which
# the library keeps hidden; these programs compile their own copy of them.
foreach(_t vector_arith_test vector_reduce_test)
  if(TARGET ${_t})
    target_sources(${_t} PRIVATE ${PROJECT_SOURCE_DIR}/src/mathla/kernels.cpp)
  endif()
endforeach()
