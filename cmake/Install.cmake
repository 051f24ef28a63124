# What `cmake --install` puts under the prefix, and the Debian package cpack
# builds from the same rules:
#   bin/                         the programs
#   share/man/man1/              one page per program
#                                (installed by programs/CMakeLists.txt;
#                                veloramesh and its page when Gmsh is found)
#   share/doc/velora/            README, verification, decisions, the examples
#   include/velora/              the header-only minimiser library (nlp) and
#                                what its headers include (terms, failures)
#   share/cmake/velora/          find_package(velora): velora::nlp, velora::terms
#   share/pkgconfig/velora.pc    the same for pkg-config
#   lib/python3/dist-packages/velora/
#                                the Python module, when it is built
#                                (installed by python/CMakeLists.txt)
# The library is header-only, so its package files are the same on every
# architecture and go under share/.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(FILES man/velora1.1 man/velora2.1 man/veloraform.1 man/square.1 man/circle.1 man/veloraview.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES README.md VERIFICATION.md BENCHMARKS.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
install(FILES examples/square.txt examples/circle.txt DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# The headers keep their folders ("nlp/qn.h" includes "terms/terms.h" and
# "platform/failure.h"), under one folder of the project's own.
set(velora_include_dir ${CMAKE_INSTALL_INCLUDEDIR}/velora)
install(FILES nlp/nlp.h nlp/qn.h DESTINATION ${velora_include_dir}/nlp)
install(FILES terms/terms.h DESTINATION ${velora_include_dir}/terms)
install(FILES platform/failure.h DESTINATION ${velora_include_dir}/platform)

install(TARGETS nlp terms EXPORT veloraTargets)
set(velora_cmake_dir ${CMAKE_INSTALL_DATADIR}/cmake/velora)
install(EXPORT veloraTargets NAMESPACE velora:: DESTINATION ${velora_cmake_dir})
configure_package_config_file(cmake/veloraConfig.cmake.in ${PROJECT_BINARY_DIR}/veloraConfig.cmake
                              INSTALL_DESTINATION ${velora_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/veloraConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION}
                                 COMPATIBILITY SameMajorVersion
                                 ARCH_INDEPENDENT)
install(FILES ${PROJECT_BINARY_DIR}/veloraConfig.cmake ${PROJECT_BINARY_DIR}/veloraConfigVersion.cmake
        DESTINATION ${velora_cmake_dir})

configure_file(cmake/velora.pc.in ${PROJECT_BINARY_DIR}/velora.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/velora.pc DESTINATION ${CMAKE_INSTALL_DATADIR}/pkgconfig)

# cpack -G DEB: velora_<version>_amd64.deb, its library dependencies found
# by dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME velora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "static equilibrium of thin membranes under large deflections")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Solvers for the large-deflection static equilibrium of thin membranes (fabric, film) under nodal forces, "
       "self-weight and follower pressure, model generators, a viewer writing VTK grids and SVG pictures, and the "
       "header-only minimiser library with its CMake and pkg-config files, and the Python module velora (models "
       "from numpy arrays or meshio meshes, results as arrays).")
set(CPACK_PACKAGE_CONTACT "velora developers <velora@localhost>")
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The second-order method loads CHOLMOD (and through it a BLAS) when a run
# asks for it, so no binary links it and shlibdeps cannot see it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcholmod3, libopenblas0 | libblas3")
# The Python module is in this package, in Debian's python3 folder: it is
# built from the same sources in the same build, so it cannot be of another
# version than the programs whose files it writes. It is built for the
# python3 of Debian 12 (3.11), and numpy is what its arrays are: both are
# recommended, not required, so that the programs install without Python.
if(TARGET _velora)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3 (>= 3.11), python3 (<< 3.12), python3-numpy")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-meshio, python3-matplotlib")
endif()
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_STRIP_FILES ON)
include(CPack)
