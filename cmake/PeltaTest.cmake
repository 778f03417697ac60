# pelta_add_gtest(target [GUI] [TSAN] [TIMEOUT s])
#   Registers a GoogleTest executable with CTest, with the sanitizer options every test runs under.
#   GUI: the test needs a display and runs under xvfb-run. TSAN: the test also runs in the
#   ThreadSanitizer build (label "tsan"; the test command runs only those there).
include(GoogleTest)
set(PELTA_SUPPORT_DIR ${CMAKE_SOURCE_DIR}/tests/support)
set(PELTA_TEST_ENV
  "LSAN_OPTIONS=suppressions=${PELTA_SUPPORT_DIR}/lsan.supp"
  "TSAN_OPTIONS=suppressions=${PELTA_SUPPORT_DIR}/tsan.supp:halt_on_error=1:second_deadlock_stack=1"
  "UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1"
  "ASAN_OPTIONS=detect_leaks=1"
  "PELTA_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
  "PELTA_BIN_DIR=${CMAKE_BINARY_DIR}/bin")

function(pelta_add_gtest target)
  cmake_parse_arguments(PT "GUI;TSAN" "TIMEOUT" "" ${ARGN})
  if(NOT PT_TIMEOUT)
    set(PT_TIMEOUT 300)
  endif()
  set(labels unit)
  if(PT_TSAN)
    list(APPEND labels tsan)
  endif()
  set(env ${PELTA_TEST_ENV})
  if(PT_GUI)
    list(APPEND labels gui)
    # GTK's system libraries have no frame pointers: without the slow unwinder a leak inside
    # them shows only g_malloc and its suppression cannot match.
    list(TRANSFORM env REPLACE "^ASAN_OPTIONS=.*" "ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0")
    set_target_properties(${target} PROPERTIES CROSSCOMPILING_EMULATOR "xvfb-run;-a;-s;-screen 0 1280x1024x24")
  endif()
  gtest_discover_tests(${target}
    DISCOVERY_TIMEOUT 60 TEST_LIST ${target}_TESTS
    PROPERTIES TIMEOUT ${PT_TIMEOUT})
  # gtest_discover_tests of CMake 3.25 splits list-valued PROPERTIES (labels and environment
  # would lose all but their first entry), so set them once the tests are discovered.
  set(props ${CMAKE_CURRENT_BINARY_DIR}/${target}_properties.cmake)
  file(WRITE ${props}
    "if(${target}_TESTS)\n"
    "  set_tests_properties(\${${target}_TESTS} PROPERTIES LABELS [==[${labels}]==] ENVIRONMENT [==[${env}]==])\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${props})
endfunction()

# pelta_add_script_test(name command... [LABELS ...])
function(pelta_add_script_test name)
  cmake_parse_arguments(PS "" "TIMEOUT" "LABELS;COMMAND" ${ARGN})
  if(NOT PS_TIMEOUT)
    set(PS_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND ${PS_COMMAND})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${PS_TIMEOUT} SKIP_RETURN_CODE 77
    LABELS "${PS_LABELS}" ENVIRONMENT "${PELTA_TEST_ENV}")
endfunction()

# libFuzzer targets, built only with -DPELTA_FUZZ=ON under clang. INSTRUMENT names the libraries
# whose branches should guide the fuzzer (the code under test, not only the harness).
option(PELTA_FUZZ "build the libFuzzer targets (clang only)" OFF)
function(pelta_add_fuzzer target)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS;INSTRUMENT" ${ARGN})
  if(NOT (PELTA_FUZZ AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang"))
    return()
  endif()
  add_executable(${target} ${F_SOURCES})
  target_compile_options(${target} PRIVATE -fsanitize=fuzzer)
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${target} PRIVATE ${F_LIBS})
  foreach(lib ${F_INSTRUMENT})
    target_compile_options(${lib} PRIVATE -fsanitize=fuzzer-no-link)
  endforeach()
endfunction()
