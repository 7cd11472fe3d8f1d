# can_watch: frame statistics logger. The statistics live in can_stats so the
# tests can drive them without a bus.
add_library(can_stats STATIC ${CMAKE_CURRENT_SOURCE_DIR}/src/can_stats.cpp)
target_include_directories(can_stats PUBLIC ${TAVO_CORE_INCLUDES})
target_compile_options(can_stats PRIVATE ${TAVO_WARNINGS})

tavo_add_program(can_watch SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/app/can_watch.cpp LIBS can_stats dispatcher communication)
