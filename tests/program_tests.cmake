find_package(Qt6 REQUIRED COMPONENTS Widgets Test)

# tly_program_test_suite(DIR module...): the tests of a module of the program
# (the chart, the window, the commands, the entry). They run on Qt's offscreen
# platform with one application object (testutil/main_tests_main.cpp), and may
# start the built program itself.
function(tly_program_test_suite dir)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
  if(NOT sources)
    return()
  endif()
  set(target ${dir}_tests)
  add_executable(${target} ${sources} ${CMAKE_CURRENT_SOURCE_DIR}/testutil/main_tests_main.cpp
                 ${TLY_SANITIZER_OPTIONS})
  foreach(dep IN LISTS ARGN)
    target_link_libraries(${target} PRIVATE tly_${dep})
  endforeach()
  target_link_libraries(${target} PRIVATE tly_testutil Qt6::Test GTest::gtest GTest::gmock)
  # Where the program lies as seen from the test program, so that a copy of
  # the build tree tests its own program.
  file(RELATIVE_PATH generator_from_tests ${CMAKE_CURRENT_BINARY_DIR}/${dir}
       ${PROJECT_BINARY_DIR}/src/app/tly-generator)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY
                        ${CMAKE_CURRENT_BINARY_DIR}/${dir})
  target_compile_definitions(${target} PRIVATE TLY_GENERATOR_FROM_TESTS="${generator_from_tests}")
  add_dependencies(${target} tly-generator)
  tly_warnings(${target})
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60)
endfunction()

tly_program_test_suite(plot plot)
tly_program_test_suite(gui gui)
tly_program_test_suite(cli cli)
tly_program_test_suite(app app)

# The format description for reader authors, whose example the tests check.
target_compile_definitions(app_tests PRIVATE TLY_DOC_DIR="${PROJECT_SOURCE_DIR}/doc")
# The install test installs this build tree (found the same way) with the
# CMake that configured it; everything it installs must be built first.
file(RELATIVE_PATH build_from_tests ${CMAKE_CURRENT_BINARY_DIR}/app ${PROJECT_BINARY_DIR})
find_program(TLY_DESKTOP_FILE_VALIDATE desktop-file-validate)
target_compile_definitions(app_tests PRIVATE TLY_BUILD_FROM_TESTS="${build_from_tests}"
  TLY_CMAKE_COMMAND="${CMAKE_COMMAND}" TLY_DESKTOP_FILE_VALIDATE="${TLY_DESKTOP_FILE_VALIDATE}")
foreach(installed IN ITEMS manpage package_changelog)
  if(TARGET ${installed})
    add_dependencies(app_tests ${installed})
  endif()
endforeach()
