# body_sim: the simulated robot body; demo_view: the demo's live view of the feedback topics.
add_library(body_sim_core STATIC src/body_model.cpp src/body_sim_options.cpp src/stream_scheduler.cpp)
target_include_directories(body_sim_core PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include ${TAVO_CORE_INCLUDES})
target_compile_options(body_sim_core PRIVATE ${TAVO_WARNINGS})

add_executable(body_sim body_sim.cpp)
target_compile_options(body_sim PRIVATE ${TAVO_WARNINGS})
target_link_libraries(body_sim PRIVATE body_sim_core communication Threads::Threads)
set_target_properties(body_sim PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CATKIN_DEVEL_PREFIX}/lib/tavo_hal)

add_executable(demo_view topic_view.cpp)
target_compile_options(demo_view PRIVATE ${TAVO_WARNINGS})
target_link_libraries(demo_view PRIVATE ${catkin_LIBRARIES})
add_dependencies(demo_view ${catkin_EXPORTED_TARGETS})
set_target_properties(demo_view PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CATKIN_DEVEL_PREFIX}/lib/tavo_hal)
