# Test helpers shared by the subsystems' test folders.

set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

set(TELVAR_TEST_SUPPORT ${CMAKE_SOURCE_DIR}/tests/support)

# telvar_test(NAME SOURCES a.cpp ... NATIVE_SOURCES b.cpp ...)
#   Windows build: program test_NAME from all the sources, run by ctest under Wine.
#   Native build:  program test_NAME_native from NATIVE_SOURCES only (byte-level).
function(telvar_test name)
  cmake_parse_arguments(T "" "" "SOURCES;NATIVE_SOURCES;SUPPORT" ${ARGN})
  if(TELVAR_NATIVE)
    if(NOT T_NATIVE_SOURCES)
      return()
    endif()
    set(target test_${name}_native)
    add_executable(${target} ${T_NATIVE_SOURCES})
    target_link_libraries(${target} PRIVATE telvar_bytes GTest::gtest_main)
  else()
    set(target test_${name})
    add_executable(${target} ${T_SOURCES} ${T_NATIVE_SOURCES} ${T_SUPPORT})
    target_link_libraries(${target} PRIVATE telvar_window GTest::gtest_main)
  endif()
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  target_compile_options(${target} PRIVATE ${TELVAR_WARNINGS})
  target_compile_definitions(${target} PRIVATE
    TELVAR_SOURCE_DIR="${CMAKE_SOURCE_DIR}" TELVAR_BINARY_DIR="${CMAKE_BINARY_DIR}")
  add_test(NAME ${target} COMMAND ${target})
  set_tests_properties(${target} PROPERTIES TIMEOUT 900)
endfunction()

# telvar_fuzzer(NAME SOURCE CORPUS_DIR): native build only; a libFuzzer target
# that ctest runs for a bounded time over its seed corpus.
set(TELVAR_FUZZ_SECONDS 20 CACHE STRING "How long ctest runs each fuzzer")
function(telvar_fuzzer name source corpus)
  if(NOT TELVAR_NATIVE)
    return()
  endif()
  set(target fuzz_${name})
  add_executable(${target} ${source})
  target_compile_options(${target} PRIVATE -fsanitize=fuzzer)
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${target} PRIVATE telvar_bytes)
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/src)
  set(work ${CMAKE_BINARY_DIR}/fuzz/${name})
  add_test(NAME ${target}
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
            sh -c "mkdir -p '${work}' && exec \"$0\" -max_total_time=${TELVAR_FUZZ_SECONDS} -timeout=10 -rss_limit_mb=2048 -artifact_prefix='${work}/' '${work}' '${corpus}'"
            $<TARGET_FILE:${target}>)
  set_tests_properties(${target} PROPERTIES TIMEOUT 300)
endfunction()

# telvar_window_test(NAME SOURCES a.cpp ... [TIMEOUT s]): Windows build only; a program
# that drives the real launcher window through the shared harness. It runs on
# an X display (the with-display wrapper finds one or starts an Xvfb), and only
# one such program at a time: windows on one display take focus and input from
# each other.
function(telvar_window_test name)
  if(TELVAR_NATIVE)
    return()
  endif()
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 900)
  endif()
  add_executable(${name} ${T_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/window_harness.cpp
                 ${TELVAR_TEST_SUPPORT}/iso_builder.cpp ${TELVAR_TEST_SUPPORT}/temp_folder.cpp)
  target_link_libraries(${name} PRIVATE telvar_window GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  target_compile_options(${name} PRIVATE ${TELVAR_WARNINGS})
  target_compile_definitions(${name} PRIVATE STANDIN_GAME_EXE="$<TARGET_FILE:standin_game>"
                             TELVAR_BINARY_DIR="${CMAKE_BINARY_DIR}")
  add_dependencies(${name} standin_game)
  add_test(NAME ${name}
    COMMAND ${CMAKE_SOURCE_DIR}/tests/support/with-display ${CMAKE_SOURCE_DIR}/cmake/wine-run $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} RESOURCE_LOCK x_display)
endfunction()
