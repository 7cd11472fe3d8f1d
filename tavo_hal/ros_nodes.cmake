# tavo_node and tavo_teleoperation. The ROS glue both share lives in node_glue;
# the judging of their /diagnostics in body_health, and the product table, the
# joint-state board and the chassis watchdog's policy in node_model: neither has ROS.
add_library(body_health STATIC node/src/body_health.cpp)
target_include_directories(body_health PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/node/include ${TAVO_CORE_INCLUDES})
target_compile_options(body_health PRIVATE ${TAVO_WARNINGS})
target_link_libraries(body_health PUBLIC Threads::Threads)

add_library(node_model STATIC node/src/product_table.cpp node/src/joint_state_board.cpp
                              node/src/chassis_watchdog.cpp)
target_include_directories(node_model PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/node/include ${TAVO_CORE_INCLUDES})
target_compile_options(node_model PRIVATE ${TAVO_WARNINGS})
target_link_libraries(node_model PUBLIC Threads::Threads)

add_library(node_glue STATIC
            node/src/feedback_publishing.cpp node/src/command_intake.cpp node/src/bus_link.cpp node/src/node_setup.cpp
            node/src/node_diagnostics.cpp node/src/joint_states_publishing.cpp node/src/chassis_command_watchdog.cpp
            node/src/body_assembly.cpp node/src/node_usage.cpp node/src/realtime_mode.cpp)
target_include_directories(node_glue PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/node/include ${TAVO_CORE_INCLUDES})
target_compile_options(node_glue PRIVATE ${TAVO_WARNINGS})
target_link_libraries(node_glue PUBLIC body_health node_model codecs dispatcher communication ${catkin_LIBRARIES})
add_dependencies(node_glue ${catkin_EXPORTED_TARGETS})

tavo_add_program(tavo_node ROS SOURCES main.cpp LIBS node_glue)
tavo_add_program(tavo_teleoperation ROS SOURCES tavo_teleoperation.cpp LIBS node_glue)
# robot_state_publisher for a URDF file named on the command line (launch/ros_tools.launch).
tavo_add_script_program(tavo_state_publisher SCRIPT ${CMAKE_CURRENT_SOURCE_DIR}/scripts/tavo_state_publisher.sh)
