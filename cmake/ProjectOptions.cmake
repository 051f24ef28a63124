# Flags shared by every target, linked PRIVATE so they do not leak to users.
#
# Results must be byte-identical across optimisation levels and x86-64
# machines: the minimiser turns a last-bit difference into a different
# iteration count. So no fused multiply-add contraction and no fast-math in
# any configuration. -fno-math-errno changes no value: a square root no
# longer sets errno (nothing reads it), so it is the bare instruction and
# the wide element loops take several at once.

add_library(project_options INTERFACE)
# The element loop's wide lane types (energy/lanes.h) pass by value only
# between inline functions of one translation unit; GCC's note on their
# calling convention (-Wpsabi) concerns calls across units.
target_compile_options(project_options INTERFACE -ffp-contract=off -fno-fast-math -fno-math-errno -Wno-psabi)
target_compile_features(project_options INTERFACE cxx_std_20)

# Release at -O2 is the default set before project() in CMakeLists.txt; a
# CMAKE_CXX_FLAGS_RELEASE the user gives is kept as given.

option(ENABLE_SANITIZERS "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(ENABLE_TSAN "Build with ThreadSanitizer (the tsan preset, for the parallel tests)" OFF)
if(ENABLE_SANITIZERS AND ENABLE_TSAN)
  message(FATAL_ERROR "ThreadSanitizer cannot be combined with AddressSanitizer: use one preset or the other")
endif()
if(ENABLE_SANITIZERS)
  target_compile_options(project_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(project_options INTERFACE -fsanitize=address,undefined)
  # An interpreter that is not instrumented (python3) loads an instrumented
  # module only with the runtime loaded first; the C++ library comes with it,
  # since the runtime's interceptor of throw must find it.
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so OUTPUT_VARIABLE asan_runtime
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++.so OUTPUT_VARIABLE cxx_runtime
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(SANITIZER_PRELOAD "${asan_runtime}:${cxx_runtime}")
endif()
if(ENABLE_TSAN)
  target_compile_options(project_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(project_options INTERFACE -fsanitize=thread)
endif()

add_library(project_warnings INTERFACE)
target_compile_options(project_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Wunused -Woverloaded-virtual
  -Wnull-dereference -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough)
if(WARNINGS_AS_ERRORS)
  target_compile_options(project_warnings INTERFACE -Werror)
endif()

# add_unit_test(name SOURCES a.cpp b.cpp LIBS lib1 lib2)
# builds a GoogleTest executable and registers its cases with CTest.
function(add_unit_test name)
  cmake_parse_arguments(UT "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT BUILD_TESTING)
    return()
  endif()
  if(NOT UT_SOURCES)
    set(UT_SOURCES ${name}.cpp)
  endif()
  add_executable(${name} ${UT_SOURCES})
  target_link_libraries(${name} PRIVATE ${UT_LIBS} GTest::gtest_main project_options project_warnings)
  # The models with reference results (tests/testdata/NAME/input.txt and
  # their reports and scripts), one copy for every test that needs them.
  target_compile_definitions(${name} PRIVATE VELORA_TESTDATA="${PROJECT_SOURCE_DIR}/tests/testdata")
  # Parameterised cases are named by their index (Suite/Case/0), not by a dump
  # of their parameter.
  gtest_discover_tests(${name} WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR} NO_PRETTY_VALUES)
endfunction()

# add_micro_benchmark(name SOURCES a.cpp LIBS lib1)
function(add_micro_benchmark name)
  cmake_parse_arguments(MB "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT BUILD_BENCHMARKS)
    return()
  endif()
  if(NOT MB_SOURCES)
    set(MB_SOURCES ${name}.cpp)
  endif()
  add_executable(${name} ${MB_SOURCES})
  target_link_libraries(${name} PRIVATE ${MB_LIBS} benchmark::benchmark project_options)
endfunction()
