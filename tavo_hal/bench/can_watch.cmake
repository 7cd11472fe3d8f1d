tavo_add_benchmark(bench_can_stats SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_can_stats.cpp LIBS can_stats)
