tavo_add_benchmark(bench_candump_log SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_candump_log.cpp LIBS communication)
