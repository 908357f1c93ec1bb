# Shared compile settings and helpers for the project's targets.

# Every first-party target links this for warnings and sanitizer flags.
add_library(vrex_options INTERFACE)
target_compile_options(vrex_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wformat=2
  # GCC 12 reports overlaps inside std::string copies that cannot happen
  # (a known false positive at -O3); it would break optimised builds.
  $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>
  $<$<BOOL:${VREX_WERROR}>:-Werror>)
target_include_directories(vrex_options INTERFACE ${CMAKE_SOURCE_DIR})
if(VREX_SANITIZE)
  target_compile_options(vrex_options INTERFACE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(vrex_options INTERFACE -fsanitize=address,undefined)
endif()
if(VREX_FUZZ)
  target_compile_options(vrex_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined)
  target_link_options(vrex_options INTERFACE -fsanitize=address,undefined)
endif()

# vrex_add_test(NAME SOURCES src... [LIBS lib...])
# One GoogleTest executable, registered with CTest test by test.
# Without VREX_TESTS (the fuzz build) the target exists but is not built.
function(vrex_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT VREX_TESTS)
    add_executable(${name} EXCLUDE_FROM_ALL ${T_SOURCES})
    target_link_libraries(${name} PRIVATE vrex_options ${T_LIBS} GTest::gtest GTest::gtest_main)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE vrex_options ${T_LIBS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    VREX_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    VREX_BINARY_DIR="${CMAKE_BINARY_DIR}"
    VREX_TESTDATA_DIR="${VREX_TESTDATA_DIR}")
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES ENVIRONMENT "VREX_TESTDATA_DIR=${VREX_TESTDATA_DIR}")
endfunction()

# vrex_add_fuzzer(NAME SOURCES src... [LIBS lib...] [CORPUS dir...] [DEPENDS target...])
# A libFuzzer target. Built only with VREX_FUZZ, into ${CMAKE_BINARY_DIR}/fuzz/;
# every target is listed in ${CMAKE_BINARY_DIR}/fuzzers.txt as
# "name<TAB>corpus directories separated by ;" for CI to run.
# Without VREX_FUZZ the same source is built as a replay test that runs the
# target over its seed corpus and the kept regression inputs.
# DEPENDS names targets that generate the seed corpus.
function(vrex_add_fuzzer name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS;CORPUS;DEPENDS" ${ARGN})
  if(VREX_FUZZ)
    add_executable(${name} ${F_SOURCES})
    target_link_libraries(${name} PRIVATE vrex_options ${F_LIBS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    if(F_DEPENDS)
      add_dependencies(${name} ${F_DEPENDS})
    endif()
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
    string(JOIN ";" corpus ${F_CORPUS})
    file(APPEND ${CMAKE_BINARY_DIR}/fuzzers.txt "${name}\t${corpus}\n")
  elseif(VREX_TESTS)
    add_executable(${name}_replay ${F_SOURCES} ${CMAKE_SOURCE_DIR}/tests/fuzz/replay_main.cc)
    target_link_libraries(${name}_replay PRIVATE vrex_options ${F_LIBS})
    add_test(NAME ${name}_replay COMMAND ${name}_replay ${F_CORPUS})
    if(F_DEPENDS)
      add_dependencies(${name}_replay ${F_DEPENDS})
    endif()
  endif()
endfunction()
