# frame_path_probe: the measuring end of frame_path.sh (a program, not a Google Benchmark binary).
add_executable(frame_path_probe frame_path_probe.cpp)
target_compile_options(frame_path_probe PRIVATE ${TAVO_WARNINGS})
target_include_directories(frame_path_probe PRIVATE ${TAVO_CORE_INCLUDES})
target_link_libraries(frame_path_probe PRIVATE communication ${catkin_LIBRARIES})
add_dependencies(frame_path_probe ${catkin_EXPORTED_TARGETS})
set_target_properties(frame_path_probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CATKIN_DEVEL_PREFIX}/lib/tavo_hal)

# wake_latency: the machine's own wake-up lateness, printed by frame_path.sh beside the node's figures.
add_executable(wake_latency wake_latency.cpp)
target_compile_options(wake_latency PRIVATE ${TAVO_WARNINGS})
set_target_properties(wake_latency PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CATKIN_DEVEL_PREFIX}/lib/tavo_hal)
