# Shared build settings and helpers for every subsystem.

find_package(PkgConfig REQUIRED)
find_package(GTest REQUIRED)
include(GoogleTest)

add_library(spherolux_warnings INTERFACE)
target_compile_options(spherolux_warnings INTERFACE -Wall -Wextra)
if(SPHEROLUX_WERROR)
  target_compile_options(spherolux_warnings INTERFACE -Werror)
endif()

# The programs' --version.
add_library(spherolux_version INTERFACE)
target_compile_definitions(spherolux_version INTERFACE SPHEROLUX_VERSION="${PROJECT_VERSION}")

if(SPHEROLUX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(SPHEROLUX_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

if(SPHEROLUX_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "SPHEROLUX_FUZZ needs clang (CC=clang CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# spherolux_add_library(NAME SOURCES ... [DEPS ...] [PRIVATE_DEPS ...])
# A static library whose public headers live in <dir>/include.
function(spherolux_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE spherolux_warnings ${ARG_PRIVATE_DEPS})
endfunction()

# spherolux_add_test(NAME SOURCES ... [DEPS ...] [TIMEOUT seconds] [LABELS ...])
# A GoogleTest program; each test case becomes one CTest test.
function(spherolux_add_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS;LABELS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main spherolux_warnings)
  target_compile_definitions(${name} PRIVATE
    SPHEROLUX_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    SPHEROLUX_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${ARG_LABELS}")
endfunction()

# spherolux_add_benchmark(NAME SOURCES ... [DEPS ...])
function(spherolux_add_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  if(NOT SPHEROLUX_BENCHMARKS OR SPHEROLUX_SANITIZE OR SPHEROLUX_FUZZ OR SPHEROLUX_TSAN)
    return()
  endif()
  find_package(benchmark REQUIRED)
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark spherolux_warnings)
endfunction()

# spherolux_add_fuzzer(NAME SOURCES ... [DEPS ...])
# A libFuzzer target, built only with SPHEROLUX_FUZZ=ON. scripts/fuzz runs them.
function(spherolux_add_fuzzer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  if(NOT SPHEROLUX_FUZZ)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_property(GLOBAL APPEND PROPERTY SPHEROLUX_FUZZERS ${name})
endfunction()

# spherolux_add_widget_test(NAME SOURCES ... [DEPS ...])
# A GoogleTest program inside a QApplication (platform/tests/qt_test_main.cpp), headless on
# Qt's offscreen platform unless QT_QPA_PLATFORM says otherwise.
function(spherolux_add_widget_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} spherolux_qt_test_main GTest::gtest spherolux_warnings)
  target_compile_definitions(${name} PRIVATE
    SPHEROLUX_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    SPHEROLUX_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    PROPERTIES TIMEOUT 120 LABELS widgets)
endfunction()

