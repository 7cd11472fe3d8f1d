# tavo_node and tavo_teleoperation. The ROS glue both share lives in node_glue.
add_library(node_glue STATIC node/src/feedback_publishing.cpp node/src/command_intake.cpp node/src/bus_link.cpp
                             node/src/node_setup.cpp)
target_include_directories(node_glue PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/node/include ${TAVO_CORE_INCLUDES})
target_compile_options(node_glue PRIVATE ${TAVO_WARNINGS})
target_link_libraries(node_glue PUBLIC codecs dispatcher communication ${catkin_LIBRARIES})
add_dependencies(node_glue ${catkin_EXPORTED_TARGETS})

foreach(program tavo_node tavo_teleoperation)
  if(program STREQUAL "tavo_node")
    add_executable(${program} main.cpp)
  else()
    add_executable(${program} ${program}.cpp)
  endif()
  target_compile_options(${program} PRIVATE ${TAVO_WARNINGS})
  target_link_libraries(${program} PRIVATE node_glue)
  add_dependencies(${program} ${catkin_EXPORTED_TARGETS})
  set_target_properties(${program} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CATKIN_DEVEL_PREFIX}/${CATKIN_PACKAGE_BIN_DESTINATION})
endforeach()
