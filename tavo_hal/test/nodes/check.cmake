tavo_add_gtest(self_check_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/self_check_test.cpp LIBS self_check)
tavo_add_gtest(topic_check_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/topic_check_test.cpp LIBS ${catkin_LIBRARIES}
               TIMEOUT 240)
add_dependencies(topic_check_test topic_check ${catkin_EXPORTED_TARGETS})
# topic_check against tavo_node and body_sim.
tavo_add_gtest(topic_check_e2e_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/topic_check_e2e_test.cpp
               LIBS ${catkin_LIBRARIES} TIMEOUT 240)
add_dependencies(topic_check_e2e_test topic_check tavo_node body_sim ${catkin_EXPORTED_TARGETS})
