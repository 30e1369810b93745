# quillfen_add_test(NAME <name> SOURCES <files...> LIBS <libraries...>)
# Builds one GoogleTest executable and registers each of its tests with CTest.
include_guard(GLOBAL)

function(quillfen_add_test)
  cmake_parse_arguments(ARG "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LIBS} quillfen_testsupport GTest::gtest GTest::gtest_main Threads::Threads)
  include(GoogleTest)
  gtest_discover_tests(${ARG_NAME}
    WORKING_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300)
endfunction()
