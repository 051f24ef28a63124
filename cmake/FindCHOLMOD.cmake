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
# CHOLMOD_SONAME: the name the solver loads, the soname of the library
# found (readelf), or else the one its header's main version gives
# (SuiteSparse's libraries take their main version as soname).
if(CHOLMOD_FOUND AND NOT CHOLMOD_SONAME)
  file(REAL_PATH "${CHOLMOD_LIBRARY}" _cholmod_real)
  if(CMAKE_READELF)
    execute_process(COMMAND "${CMAKE_READELF}" -d "${_cholmod_real}" OUTPUT_VARIABLE _cholmod_dynamic ERROR_QUIET)
    if(_cholmod_dynamic MATCHES "Library soname: \\[([^]]+)\\]")
      set(_cholmod_soname "${CMAKE_MATCH_1}")
    endif()
  endif()
  if(NOT _cholmod_soname)
    file(STRINGS "${CHOLMOD_INCLUDE_DIR}/suitesparse/cholmod_core.h" _cholmod_main
         REGEX "^#define CHOLMOD_MAIN_VERSION +[0-9]+")
    string(REGEX REPLACE ".* ([0-9]+)$" "\\1" _cholmod_main "${_cholmod_main}")
    set(_cholmod_soname "libcholmod.so.${_cholmod_main}")
  endif()
  set(CHOLMOD_SONAME "${_cholmod_soname}" CACHE STRING "The soname of libcholmod, which the solver loads")
endif()
if(CHOLMOD_FOUND AND NOT TARGET CHOLMOD::headers)
  add_library(CHOLMOD::headers INTERFACE IMPORTED)
  set_target_properties(CHOLMOD::headers PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${CHOLMOD_INCLUDE_DIR}"
    INTERFACE_LINK_LIBRARIES "${CMAKE_DL_LIBS}"
    INTERFACE_COMPILE_DEFINITIONS "VELORA_CHOLMOD_SONAME=\"${CHOLMOD_SONAME}\"")
endif()
mark_as_advanced(CHOLMOD_INCLUDE_DIR CHOLMOD_LIBRARY CHOLMOD_SONAME)
