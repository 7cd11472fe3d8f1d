# topic_check: the operator's self-check node. The judging lives in self_check
# (no ROS) so that it can be tested on its own.
add_library(self_check STATIC ${CMAKE_CURRENT_SOURCE_DIR}/self_check.cpp)
target_include_directories(self_check PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} PRIVATE ${TAVO_CORE_INCLUDES})
target_compile_options(self_check PRIVATE ${TAVO_WARNINGS})

tavo_add_program(topic_check ROS SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/check.cpp LIBS self_check Threads::Threads)
