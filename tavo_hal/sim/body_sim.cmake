# body_sim: the simulated robot body; demo_view: the demo's live view of the feedback topics.
add_library(body_sim_core STATIC src/body_model.cpp src/body_sim_options.cpp src/stream_scheduler.cpp)
target_include_directories(body_sim_core PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include ${TAVO_CORE_INCLUDES})
target_compile_options(body_sim_core PRIVATE ${TAVO_WARNINGS})

tavo_add_program(body_sim SOURCES body_sim.cpp LIBS body_sim_core communication Threads::Threads)
tavo_add_program(demo_view ROS SOURCES topic_view.cpp)
target_include_directories(demo_view PRIVATE ${TAVO_CORE_INCLUDES})
