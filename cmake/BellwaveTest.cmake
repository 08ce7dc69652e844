# bellwave_test_dir(LIBS lib... [THREADED] [SERIAL])
# Makes one GoogleTest executable per *.cpp in the calling folder (test_<folder>_<file>),
# linked with tests/support and the given libraries. THREADED marks them for the
# ThreadSanitizer run (`make tsan`); SERIAL runs each of them with no other test beside
# it, for tests against a sound server that misses its deadlines when the two processors
# are busy with other tests.
find_package(GTest REQUIRED)
include(GoogleTest)

function(bellwave_test_dir)
  cmake_parse_arguments(ARG "THREADED;SERIAL" "" "LIBS" ${ARGN})
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  set(label ${folder})
  if(ARG_THREADED)
    set(label ${folder}_threaded)
  endif()
  set(serial)
  if(ARG_SERIAL)
    set(serial RUN_SERIAL TRUE)
  endif()
  # Tests load the driver plug-ins from the build tree: build those first.
  get_property(drivers GLOBAL PROPERTY BELLWAVE_DRIVERS)
  set(driver_targets)
  foreach(entry ${drivers})
    string(REPLACE "|" ";" fields "${entry}")
    list(GET fields 0 driver_target)
    list(APPEND driver_targets ${driver_target})
  endforeach()
  foreach(source ${sources})
    get_filename_component(stem ${source} NAME_WE)
    set(target test_${folder}_${stem})
    add_executable(${target} ${source})
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} bellwave_test_support GTest::gtest GTest::gmock GTest::gtest_main)
    if(driver_targets)
      add_dependencies(${target} ${driver_targets})
    endif()
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    # One label per test (list values do not survive gtest_discover_tests): the folder,
    # with "_threaded" appended for the ThreadSanitizer run (`ctest -L threaded`).
    gtest_discover_tests(${target}
      DISCOVERY_MODE PRE_TEST
      WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
      PROPERTIES LABELS "${label}" ${serial})
  endforeach()
endfunction()
