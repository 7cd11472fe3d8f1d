# can_watch: frame statistics logger. The statistics live in can_stats so the
# tests can drive them without a bus.
add_library(can_stats STATIC ${CMAKE_CURRENT_SOURCE_DIR}/src/can_stats.cpp)
target_include_directories(can_stats PUBLIC ${TAVO_CORE_INCLUDES})
target_compile_options(can_stats PRIVATE ${TAVO_WARNINGS})

add_executable(can_watch ${CMAKE_CURRENT_SOURCE_DIR}/app/can_watch.cpp)
target_compile_options(can_watch PRIVATE ${TAVO_WARNINGS})
target_link_libraries(can_watch PRIVATE can_stats dispatcher communication)
