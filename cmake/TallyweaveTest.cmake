# tw_add_test(NAME name SOURCES a.cpp ... LIBS lib ...)
# One QtTest executable per area, run headless with its own settings folder and a session bus
# address where no bus listens, so that no test touches the user's configuration or keyring or
# needs a display.
# Instrumented builds run several times slower; their time-outs are stretched by this factor.
set(TW_TEST_TIMEOUT_FACTOR 1 CACHE STRING "Multiplier for every test's time-out")
function(tw_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE Qt6::Test ${T_LIBS})
  target_include_directories(${T_NAME} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(${T_NAME} PRIVATE
    TW_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    TW_BINARY_DIR="${CMAKE_BINARY_DIR}"
    TW_PYTHON="/usr/bin/python3")
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  math(EXPR T_TIMEOUT "${T_TIMEOUT} * ${TW_TEST_TIMEOUT_FACTOR}")
  set_tests_properties(${T_NAME} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_CONFIG_HOME=${CMAKE_BINARY_DIR}/test-home/${T_NAME}/config;XDG_RUNTIME_DIR=${CMAKE_BINARY_DIR}/test-home/${T_NAME}/run;XDG_STATE_HOME=${CMAKE_BINARY_DIR}/test-home/${T_NAME}/state;TALLYWEAVE_BATCH=$<TARGET_FILE:tallyweave-batch>;DBUS_SESSION_BUS_ADDRESS=unix:path=${CMAKE_BINARY_DIR}/test-home/${T_NAME}/run/no-bus")
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/test-home/${T_NAME}/config ${CMAKE_BINARY_DIR}/test-home/${T_NAME}/run)
  # Qt insists that a runtime folder be private to its owner.
  file(CHMOD ${CMAKE_BINARY_DIR}/test-home/${T_NAME}/run PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
endfunction()

# tw_add_fuzzer(NAME name SOURCES a.cpp ... LIBS lib ...)
# A libFuzzer target, built only with -DTALLYWEAVE_FUZZ=ON into fuzz/ of the build tree; scripts/fuzz
# runs it. TW_FUZZ_DIR is the folder of its seed corpus and dictionary.
function(tw_add_fuzzer)
  if(NOT TALLYWEAVE_FUZZ)
    return()
  endif()
  cmake_parse_arguments(F "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${F_NAME} ${F_SOURCES})
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
  target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  target_include_directories(${F_NAME} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  set_target_properties(${F_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  add_dependencies(tw_fuzzers ${F_NAME})
endfunction()
