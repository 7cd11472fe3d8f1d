# How tavo_hal declares what it builds, so that install rules follow by themselves:
#   tavo_add_program(name [ROS] SOURCES a.cpp ... [LIBS x y])   a product program: built by `catkin_make`,
#       lands in devel/lib/tavo_hal, installed into lib/tavo_hal (rosrun and roslaunch find it in both);
#       ROS: it links roscpp and waits for the generated messages
#   tavo_add_script_program(name SCRIPT path)              a product program written as a script: copied into
#       devel/lib/tavo_hal and installed into lib/tavo_hal under `name` (the source stays non-executable, so
#       roslaunch finds one program of that name)
#   tavo_add_shared_library(name SOURCES a.cpp ...)       a product library: installed into lib
# Tests and programs only tests start live under test/ (see test/CMakeLists.txt): they are built only when
# testing is enabled and asked for (`catkin_make tests`, `catkin_make run_tests`, `make test`), never installed.

# Installed programs find the package's libraries beside them (lib/tavo_hal/.. is lib), so an install space
# copied anywhere works without LD_LIBRARY_PATH; the build tree keeps CMake's absolute build paths.
function(tavo_add_program name)
  cmake_parse_arguments(P "ROS" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${P_SOURCES})
  target_compile_options(${name} PRIVATE ${TAVO_WARNINGS})
  target_link_libraries(${name} PRIVATE ${P_LIBS})
  if(P_ROS)
    target_link_libraries(${name} PRIVATE ${catkin_LIBRARIES})
    add_dependencies(${name} ${catkin_EXPORTED_TARGETS})
  endif()
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CATKIN_DEVEL_PREFIX}/${CATKIN_PACKAGE_BIN_DESTINATION}
                                           INSTALL_RPATH "$ORIGIN/..")
  install(TARGETS ${name} RUNTIME DESTINATION ${CATKIN_PACKAGE_BIN_DESTINATION})
  set_property(GLOBAL APPEND PROPERTY TAVO_PROGRAMS ${name})
endfunction()

function(tavo_add_script_program name)
  cmake_parse_arguments(P "" "SCRIPT" "" ${ARGN})
  set(permissions OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  configure_file(${P_SCRIPT} ${CATKIN_DEVEL_PREFIX}/${CATKIN_PACKAGE_BIN_DESTINATION}/${name} COPYONLY
                 FILE_PERMISSIONS ${permissions})
  install(PROGRAMS ${P_SCRIPT} DESTINATION ${CATKIN_PACKAGE_BIN_DESTINATION} RENAME ${name})
  set_property(GLOBAL APPEND PROPERTY TAVO_PROGRAMS ${name})
endfunction()

function(tavo_add_shared_library name)
  cmake_parse_arguments(L "" "" "SOURCES" ${ARGN})
  add_library(${name} SHARED ${L_SOURCES})
  target_compile_options(${name} PRIVATE ${TAVO_WARNINGS})
  set_target_properties(${name} PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS ${name} ARCHIVE DESTINATION ${CATKIN_PACKAGE_LIB_DESTINATION}
                          LIBRARY DESTINATION ${CATKIN_PACKAGE_LIB_DESTINATION}
                          RUNTIME DESTINATION ${CATKIN_GLOBAL_BIN_DESTINATION})
endfunction()
