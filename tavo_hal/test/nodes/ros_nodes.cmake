# Tests of tavo_node and tavo_teleoperation: ROS-free math, message sums, and
# integration runs of the real programs on a private master and virtual bus.
set(NODE_INCLUDE ${PROJECT_SOURCE_DIR}/node/include)

tavo_add_gtest(node_math_test SOURCES node_math_test.cpp)
target_include_directories(node_math_test PRIVATE ${NODE_INCLUDE})
tavo_add_gtest(body_health_test SOURCES body_health_test.cpp LIBS body_health self_check)
tavo_add_gtest(node_model_test SOURCES node_model_test.cpp LIBS node_model)

tavo_add_gtest(msg_md5_test SOURCES msg_md5_test.cpp LIBS ${catkin_LIBRARIES})
add_dependencies(msg_md5_test ${catkin_EXPORTED_TARGETS})

# Integration runs start tavo_node / tavo_teleoperation as child processes.
foreach(suite tavo_node_topology_test tavo_node_osprey_test tavo_node_kestrel_test tavo_teleoperation_test
              tavo_node_shutdown_test realtime_mode_test)
  tavo_add_gtest(${suite} SOURCES ${suite}.cpp node_harness.cpp LIBS communication ${catkin_LIBRARIES} TIMEOUT 180)
  add_dependencies(${suite} tavo_node tavo_teleoperation ${catkin_EXPORTED_TARGETS})
endforeach()

# /diagnostics of both nodes against body_sim.
tavo_add_gtest(diagnostics_test SOURCES diagnostics_test.cpp node_harness.cpp LIBS communication ${catkin_LIBRARIES}
               TIMEOUT 180)
add_dependencies(diagnostics_test tavo_node tavo_teleoperation body_sim ${catkin_EXPORTED_TARGETS})

# A body_sim run recorded with can_record, replayed into tavo_node with can_replay.
tavo_add_gtest(record_replay_test SOURCES record_replay_test.cpp node_harness.cpp LIBS communication ${catkin_LIBRARIES}
               TIMEOUT 180)
add_dependencies(record_replay_test tavo_node body_sim can_record can_replay ${catkin_EXPORTED_TARGETS})

# Debian's ROS tools as clients of tavo_node: robot_state_publisher and a tf2_ros buffer, rosdiagnostic and
# diagnostic_aggregator. tf2_ros is a host package only (the arm64 sysroot does not carry it).
find_package(tf2_ros QUIET)
if(tf2_ros_FOUND)
  tavo_add_gtest(ros_tools_test SOURCES ros_tools_test.cpp node_harness.cpp LIBS communication ${catkin_LIBRARIES}
                 ${tf2_ros_LIBRARIES} TIMEOUT 180)
  target_include_directories(ros_tools_test SYSTEM PRIVATE ${tf2_ros_INCLUDE_DIRS})
  add_dependencies(ros_tools_test tavo_node body_sim ${catkin_EXPORTED_TARGETS})
endif()
