# ROS programs: tavo_node and tavo_teleoperation (ros_nodes.cmake), topic_check (check.cmake).
include(${CMAKE_CURRENT_SOURCE_DIR}/ros_nodes.cmake OPTIONAL)
include(${CMAKE_CURRENT_SOURCE_DIR}/check.cmake OPTIONAL)
