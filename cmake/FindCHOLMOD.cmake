# Finds CHOLMOD (SuiteSparse) and defines the imported target CHOLMOD::CHOLMOD.
# Debian: libsuitesparse-dev, header suitesparse/cholmod.h. The factorization's
# dense kernels come from whichever BLAS the system links libcholmod with
# (on Debian the libblas.so.3 alternative: OpenBLAS when installed).
find_path(CHOLMOD_INCLUDE_DIR NAMES suitesparse/cholmod.h)
find_library(CHOLMOD_LIBRARY NAMES cholmod)
find_library(SUITESPARSECONFIG_LIBRARY NAMES suitesparseconfig)
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(CHOLMOD REQUIRED_VARS CHOLMOD_LIBRARY SUITESPARSECONFIG_LIBRARY CHOLMOD_INCLUDE_DIR)
if(CHOLMOD_FOUND AND NOT TARGET CHOLMOD::CHOLMOD)
  add_library(CHOLMOD::CHOLMOD INTERFACE IMPORTED)
  set_target_properties(CHOLMOD::CHOLMOD PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${CHOLMOD_INCLUDE_DIR}"
    INTERFACE_LINK_LIBRARIES "${CHOLMOD_LIBRARY};${SUITESPARSECONFIG_LIBRARY}")
endif()
mark_as_advanced(CHOLMOD_INCLUDE_DIR CHOLMOD_LIBRARY SUITESPARSECONFIG_LIBRARY)
