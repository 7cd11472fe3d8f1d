# Wiring of the test folder into catkin's test targets and the tests' labels.

# Every target declared in DIR and its subfolders.
function(tavo_targets_below dir out)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub ${subdirs})
    tavo_targets_below(${sub} below)
    list(APPEND targets ${below})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

# True in OUT when TARGET links roscpp, directly or through one of our own libraries.
function(tavo_links_ros target out)
  set(${out} FALSE PARENT_SCOPE)
  get_target_property(libs ${target} LINK_LIBRARIES)
  foreach(lib ${libs})
    if(lib MATCHES "roscpp")
      set(${out} TRUE PARENT_SCOPE)
      return()
    endif()
    if(TARGET ${lib})
      get_target_property(imported ${lib} IMPORTED)
      get_target_property(type ${lib} TYPE)
      if(NOT imported AND NOT type STREQUAL "INTERFACE_LIBRARY")
        tavo_links_ros(${lib} ros)
        if(ros)
          set(${out} TRUE PARENT_SCOPE)
          return()
        endif()
      endif()
    endif()
  endforeach()
endfunction()

# True in OUT when TARGET depends on a program, which the test then starts.
function(tavo_starts_programs target out)
  set(${out} FALSE PARENT_SCOPE)
  get_target_property(deps ${target} MANUALLY_ADDED_DEPENDENCIES)
  foreach(dep ${deps})
    if(TARGET ${dep})
      get_target_property(type ${dep} TYPE)
      if(type STREQUAL "EXECUTABLE")
        set(${out} TRUE PARENT_SCOPE)
        return()
      endif()
    endif()
  endforeach()
endfunction()

# Labels TEST "integration" when it links ROS or starts a program, else "unit". Runs at the end of the
# test's own folder (tavo_add_gtest defers it there), after its add_dependencies.
function(tavo_label_test test)
  tavo_links_ros(${test} ros)
  tavo_starts_programs(${test} starts)
  if(ros OR starts)
    set_tests_properties(${test} PROPERTIES LABELS integration)
  else()
    set_tests_properties(${test} PROPERTIES LABELS unit)
  endif()
endfunction()

function(tavo_hook_tests_into_catkin dir)
  tavo_targets_below(${dir} targets)
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
      add_dependencies(tests ${target})
    endif()
  endforeach()

  # catkin_make run_tests: the whole suite through ctest, failing when a test fails; GoogleTest writes its
  # results into catkin's results folder (catkin_test_results reads them).
  add_custom_target(run_tests_${PROJECT_NAME}_ctest
    COMMAND ${CMAKE_COMMAND} -E env GTEST_OUTPUT=xml:${CATKIN_TEST_RESULTS_DIR}/${PROJECT_NAME}/
            ${CMAKE_CTEST_COMMAND} --output-on-failure
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
    VERBATIM)
  add_dependencies(run_tests_${PROJECT_NAME}_ctest tests)
  add_dependencies(run_tests run_tests_${PROJECT_NAME}_ctest)
endfunction()
