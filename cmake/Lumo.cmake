# Shared build helpers. Every library folder holds Include/, Src/ and Tests/; sources are globbed so that
# adding a file needs no edit here.

set(LUMO_WARNINGS -Wall -Wextra -Wformat -Wformat-security -Wno-unused-parameter -Wno-missing-field-initializers)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # GCC 12 reports false -Wrestrict overlaps inside std::string at -O3.
  list(APPEND LUMO_WARNINGS -Wno-restrict)
endif()
if(LUMO_WERROR)
  list(APPEND LUMO_WARNINGS -Werror)
endif()

if(SANITIZE AND TSAN)
  message(FATAL_ERROR "SANITIZE and TSAN cannot be combined")
endif()
if(SANITIZE)
  add_compile_options(-fsanitize=address,undefined,float-cast-overflow -fno-omit-frame-pointer -fno-sanitize-recover=undefined,float-cast-overflow)
  add_link_options(-fsanitize=address,undefined,float-cast-overflow)
  # Line tables are all a sanitizer report needs; full debug info triples the compile time of the tests.
  add_compile_options(-g1)
endif()
if(TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
if(LUMO_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "LUMO_FUZZ needs clang (CC=clang CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# Shared libraries and the libraries loaded at run time (providers, drivers, device libraries) share one folder
# of the build tree: executables find the shared ones through their build RPATH, and the platform's loader looks
# there, beside its own library, after the executable's folder.
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib)

# lumo_library(NAME [SHARED] [DEPS ...]): static library from Src/*.cpp with Include/ public; SHARED makes a
# shared library instead (state that must exist once per process however many shared objects link it).
function(lumo_library name)
  cmake_parse_arguments(L "SHARED" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/Src/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/Src/*.c)
  if(NOT srcs)
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_CURRENT_SOURCE_DIR}/Include)
    target_link_libraries(${name} INTERFACE ${L_DEPS})
    return()
  endif()
  if(L_SHARED)
    add_library(${name} SHARED ${srcs})
  else()
    add_library(${name} STATIC ${srcs})
  endif()
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/Include PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/Src)
  target_compile_options(${name} PRIVATE ${LUMO_WARNINGS})
  target_link_libraries(${name} PUBLIC ${L_DEPS})
endfunction()

# lumo_tests(NAME [DEPS ...]): one GoogleTest executable from Tests/*.cpp, each test a CTest test.
# The working directory is the build folder of the library; LUMO_SOURCE_DIR and LUMO_BINARY_DIR are defined.
function(lumo_tests name)
  cmake_parse_arguments(L "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/Tests/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(${name} ${srcs})
  target_compile_options(${name} PRIVATE ${LUMO_WARNINGS})
  if(SANITIZE)
    # The code under test keeps its optimisation; the tests' own code compiles three times faster without it.
    target_compile_options(${name} PRIVATE -O0)
  endif()
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/Tests ${CMAKE_CURRENT_SOURCE_DIR}/Src)
  target_compile_definitions(${name} PRIVATE
    LUMO_SOURCE_DIR="${PROJECT_SOURCE_DIR}" LUMO_BINARY_DIR="${PROJECT_BINARY_DIR}")
  target_link_libraries(${name} PRIVATE ${L_DEPS} LumoTestSupport GTest::gmock GTest::gtest_main Threads::Threads)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "LUMO_TEST=1;ASAN_OPTIONS=detect_leaks=1:abort_on_error=0;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
endfunction()

# lumo_tool(NAME SOURCES... DEPS ...): a developer tool under Tools/.
function(lumo_tool name)
  cmake_parse_arguments(L "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${L_SOURCES})
  target_compile_options(${name} PRIVATE ${LUMO_WARNINGS})
  target_link_libraries(${name} PRIVATE ${L_DEPS} Threads::Threads)
endfunction()

# lumo_fuzz_target(NAME SOURCE DEPS ...): the target's LLVMFuzzerTestOneInput built twice:
#  - fuzz_NAME_corpus: a plain executable that feeds every file of tests/fuzz/corpus/NAME/ once (a CTest test);
#  - fuzz_NAME: a libFuzzer binary when LUMO_FUZZ is on (clang).
function(lumo_fuzz_target name source)
  cmake_parse_arguments(L "" "" "DEPS" ${ARGN})
  set(corpus ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${name})
  add_executable(fuzz_${name}_corpus ${source} ${PROJECT_SOURCE_DIR}/tests/fuzz/CorpusMain.cpp)
  target_compile_options(fuzz_${name}_corpus PRIVATE ${LUMO_WARNINGS})
  target_link_libraries(fuzz_${name}_corpus PRIVATE ${L_DEPS} Threads::Threads)
  add_test(NAME fuzz_corpus.${name} COMMAND fuzz_${name}_corpus ${corpus})
  set_tests_properties(fuzz_corpus.${name} PROPERTIES ENVIRONMENT "LUMO_TEST=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
  if(LUMO_FUZZ)
    add_executable(fuzz_${name} ${source})
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(fuzz_${name} PRIVATE ${L_DEPS} Threads::Threads)
  endif()
endfunction()

# lumo_bench(NAME SOURCES... DEPS ...): a Google Benchmark executable (only with LUMO_BENCH).
function(lumo_bench name)
  cmake_parse_arguments(L "" "" "SOURCES;DEPS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${name} ${L_SOURCES})
  target_compile_options(${name} PRIVATE ${LUMO_WARNINGS})
  target_link_libraries(${name} PRIVATE ${L_DEPS} benchmark::benchmark benchmark::benchmark_main Threads::Threads)
endfunction()
include(${CMAKE_CURRENT_LIST_DIR}/LumoBundle.cmake)
