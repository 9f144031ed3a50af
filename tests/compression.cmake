# The compression test checks that what zlib writes libdeflate reads and the
# other way round, whichever backend the library uses: it links both.
if(TARGET compression_test)
  find_package(ZLIB REQUIRED)
  find_path(QMDATA_TEST_LIBDEFLATE_INCLUDE libdeflate.h)
  find_library(QMDATA_TEST_LIBDEFLATE_LIBRARY NAMES deflate libdeflate)
  target_link_libraries(compression_test PRIVATE ZLIB::ZLIB)
  if(QMDATA_TEST_LIBDEFLATE_INCLUDE AND QMDATA_TEST_LIBDEFLATE_LIBRARY)
    target_include_directories(compression_test PRIVATE
      ${QMDATA_TEST_LIBDEFLATE_INCLUDE})
    target_link_libraries(compression_test PRIVATE
      ${QMDATA_TEST_LIBDEFLATE_LIBRARY})
    target_compile_definitions(compression_test PRIVATE QMDATA_TEST_HAVE_LIBDEFLATE=1)
  endif()
endif()
