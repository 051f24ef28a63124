# Finds CHOLMOD (SuiteSparse; Debian: libsuitesparse-dev, header
# suitesparse/cholmod.h) and defines CHOLMOD::headers, its headers alone: the
# solver loads the library itself when the Newton method first factorizes
# (newton/sparse_cholesky.cpp), so that its BLAS and that BLAS's threads
# are not part of a run that never factorizes. The library must be there
# all the same. The factorization's dense kernels come from whichever BLAS
# libcholmod is linked with: on Debian the libblas.so.3 alternative
# (OpenBLAS when installed).
find_path(CHOLMOD_INCLUDE_DIR NAMES suitesparse/cholmod.h)
find_library(CHOLMOD_LIBRARY NAMES cholmod)
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(CHOLMOD REQUIRED_VARS CHOLMOD_LIBRARY CHOLMOD_INCLUDE_DIR)
if(CHOLMOD_FOUND AND NOT TARGET CHOLMOD::headers)
  add_library(CHOLMOD::headers INTERFACE IMPORTED)
  set_target_properties(CHOLMOD::headers PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${CHOLMOD_INCLUDE_DIR}"
    INTERFACE_LINK_LIBRARIES "${CMAKE_DL_LIBS}")
endif()
mark_as_advanced(CHOLMOD_INCLUDE_DIR CHOLMOD_LIBRARY)
