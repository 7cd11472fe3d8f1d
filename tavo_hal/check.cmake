# topic_check: the operator's self-check node. The judging lives in self_check
# (no ROS) so that it can be tested on its own.
add_library(self_check STATIC ${CMAKE_CURRENT_SOURCE_DIR}/self_check.cpp)
target_include_directories(self_check PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_options(self_check PRIVATE ${TAVO_WARNINGS})

add_executable(topic_check ${CMAKE_CURRENT_SOURCE_DIR}/check.cpp)
target_compile_options(topic_check PRIVATE ${TAVO_WARNINGS})
target_link_libraries(topic_check PRIVATE self_check ${catkin_LIBRARIES} Threads::Threads)
add_dependencies(topic_check ${catkin_EXPORTED_TARGETS})
