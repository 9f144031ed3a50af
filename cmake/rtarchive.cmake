# SPDX-License-Identifier: MIT
# qmdata's own archive library, qmdata_rtarchive (qmdata::rtarchive):
# QmRTArchive, CZLibCompression and the block transfers of rtarchive/bulk.h.
# Included by the top-level CMakeLists.txt unless another archive library
# takes its place.
#
# The compressor writes and reads zlib streams in one call through
# libdeflate where it is found (QMDATA_COMPRESSION auto or libdeflate), and
# through zlib otherwise. Every block, whichever stream it is read from, is
# decoded by that one backend (docs/FORMAT.md, "Compressed bytes").
set(QMDATA_BACKEND "")
if(QMDATA_COMPRESSION STREQUAL "auto" OR QMDATA_COMPRESSION STREQUAL "libdeflate")
  find_package(qmdata_libdeflate QUIET)  # cmake/Findqmdata_libdeflate.cmake
  if(qmdata_libdeflate_FOUND)
    set(QMDATA_BACKEND libdeflate)
  elseif(QMDATA_COMPRESSION STREQUAL "libdeflate")
    message(FATAL_ERROR "QMDATA_COMPRESSION=libdeflate but libdeflate was not found")
  endif()
endif()
if(NOT QMDATA_BACKEND)
  set(QMDATA_BACKEND zlib)
  find_package(ZLIB REQUIRED)
endif()
message(STATUS "qmdata compression backend: ${QMDATA_BACKEND}")

add_library(qmdata_rtarchive
  src/rtarchive/archive.cpp
  src/rtarchive/bulk.cpp
  src/rtarchive/compression.cpp
  src/rtarchive/codec_${QMDATA_BACKEND}.cpp
)
add_library(qmdata::rtarchive ALIAS qmdata_rtarchive)
set_target_properties(qmdata_rtarchive PROPERTIES EXPORT_NAME rtarchive)
target_include_directories(qmdata_rtarchive
  PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
         $<INSTALL_INTERFACE:${QMDATA_INSTALL_INCLUDEDIR}>
  PRIVATE ${PROJECT_SOURCE_DIR}/src)
# The backend is the one compression library it links.
target_link_libraries(qmdata_rtarchive PRIVATE Threads::Threads)
if(QMDATA_BACKEND STREQUAL "libdeflate")
  target_link_libraries(qmdata_rtarchive PRIVATE qmdata::libdeflate)
else()
  target_link_libraries(qmdata_rtarchive PRIVATE ZLIB::ZLIB)
endif()
qmdata_library_properties(qmdata_rtarchive QMDATA_RTARCHIVE_BUILDING)
