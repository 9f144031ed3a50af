# SPDX-License-Identifier: MIT
# Finds libdeflate, which installs no CMake package of its own here.
#
# Result: qmdata_libdeflate_FOUND and the imported target qmdata::libdeflate;
# the cache entries LIBDEFLATE_INCLUDE_DIR and LIBDEFLATE_LIBRARY may be set
# to point at another copy.
find_path(LIBDEFLATE_INCLUDE_DIR libdeflate.h)
find_library(LIBDEFLATE_LIBRARY NAMES deflate libdeflate)
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(qmdata_libdeflate
  REQUIRED_VARS LIBDEFLATE_LIBRARY LIBDEFLATE_INCLUDE_DIR)
if(qmdata_libdeflate_FOUND AND NOT TARGET qmdata::libdeflate)
  add_library(qmdata::libdeflate UNKNOWN IMPORTED)
  set_target_properties(qmdata::libdeflate PROPERTIES
    IMPORTED_LOCATION "${LIBDEFLATE_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${LIBDEFLATE_INCLUDE_DIR}")
endif()
mark_as_advanced(LIBDEFLATE_INCLUDE_DIR LIBDEFLATE_LIBRARY)
