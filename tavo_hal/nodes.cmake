# ROS nodes (tavo_node, tavo_teleoperation, topic_check).
