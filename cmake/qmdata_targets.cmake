# SPDX-License-Identifier: MIT
# What every library of this project shares: the compile settings of its
# sources and, for a library, its version and the runtime it needs on 32-bit
# Windows. Included by the top-level CMakeLists.txt.

# 32-bit MinGW keeps its unwinder state in libgcc: an exception thrown in a
# DLL reaches a handler in its caller only when every module of the process
# uses the one shared libgcc. Each library passes -shared-libgcc on to its
# consumers (qmdata.pc too), and the runtime DLLs go beside the libraries.
set(QMDATA_RUNTIME_DLLS "")
set(QMDATA_PC_LINK_OPTIONS "")
set(QMDATA_SHARED_LIBGCC OFF)
if(MINGW AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(QMDATA_SHARED_LIBGCC ON)
  set(QMDATA_PC_LINK_OPTIONS " -shared-libgcc")
  foreach(_dll libgcc_s_dw2-1.dll libgcc_s_sjlj-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_dll}
      OUTPUT_VARIABLE _path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(IS_ABSOLUTE "${_path}" AND EXISTS "${_path}")
      get_filename_component(_path "${_path}" REALPATH)
      list(APPEND QMDATA_RUNTIME_DLLS "${_path}")
    endif()
  endforeach()
endif()

# qmdata_compile_properties(TARGET BUILDING_MACRO): hidden visibility with
# the export macro switched to "building", C++20, the warning set, and
# QMDATA_STATIC for everyone when the libraries are static.
function(qmdata_compile_properties target building)
  target_compile_features(${target} PUBLIC cxx_std_20)
  target_compile_definitions(${target} PRIVATE ${building})
  if(NOT BUILD_SHARED_LIBS)
    target_compile_definitions(${target} PUBLIC QMDATA_STATIC)
  endif()
  # With no build type (a single-configuration generator, and neither this
  # project nor a parent chose one) CMake adds no optimisation flag at all,
  # and the element loops would run unoptimised. qmdata's own sources then
  # compile with the Release configuration's flags; a build type that is
  # set, and every source outside qmdata, keep what was chosen.
  separate_arguments(_release NATIVE_COMMAND "${CMAKE_CXX_FLAGS_RELEASE}")
  target_compile_options(${target} PRIVATE "$<$<STREQUAL:$<CONFIG>,>:${_release}>")
  set_target_properties(${target} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    POSITION_INDEPENDENT_CODE ON)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
    if(QMDATA_STRICT_WARNINGS)
      target_compile_options(${target} PRIVATE -Wconversion -Wshadow -Werror)
    endif()
  endif()
endfunction()

# qmdata_library_properties(TARGET BUILDING_MACRO): the above, plus the
# library's version and, on 32-bit MinGW, the shared libgcc.
function(qmdata_library_properties target building)
  qmdata_compile_properties(${target} ${building})
  set_target_properties(${target} PROPERTIES
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR})
  if(QMDATA_SHARED_LIBGCC)
    target_link_options(${target} PUBLIC -shared-libgcc)
  endif()
  if(QMDATA_RUNTIME_DLLS)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E copy_if_different ${QMDATA_RUNTIME_DLLS}
              $<TARGET_FILE_DIR:${target}>)
  endif()
endfunction()
