# frame_path_probe: the measuring end of frame_path.sh (a program, not a Google Benchmark binary).
add_executable(frame_path_probe frame_path_probe.cpp)
target_compile_options(frame_path_probe PRIVATE ${TAVO_WARNINGS})
target_include_directories(frame_path_probe PRIVATE ${TAVO_CORE_INCLUDES})
target_link_libraries(frame_path_probe PRIVATE communication ${catkin_LIBRARIES})
add_dependencies(frame_path_probe ${catkin_EXPORTED_TARGETS})
set_target_properties(frame_path_probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CATKIN_DEVEL_PREFIX}/lib/tavo_hal)
