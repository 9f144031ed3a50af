# SPDX-License-Identifier: MIT
# The archive benchmark measures the compressed record against zlib and
# libdeflate called directly, so it links both itself.
if(TARGET archive_bench)
  find_package(ZLIB REQUIRED)
  find_path(QMDATA_BENCH_LIBDEFLATE_INCLUDE libdeflate.h REQUIRED)
  find_library(QMDATA_BENCH_LIBDEFLATE_LIBRARY NAMES deflate libdeflate REQUIRED)
  target_include_directories(archive_bench PRIVATE ${QMDATA_BENCH_LIBDEFLATE_INCLUDE})
  target_link_libraries(archive_bench PRIVATE ZLIB::ZLIB ${QMDATA_BENCH_LIBDEFLATE_LIBRARY})
endif()
# cereal (header-only) is the plain record's peer.
if(TARGET archive_bench)
  find_path(QMDATA_BENCH_CEREAL_INCLUDE cereal/cereal.hpp REQUIRED)
  target_include_directories(archive_bench PRIVATE ${QMDATA_BENCH_CEREAL_INCLUDE})
endif()
