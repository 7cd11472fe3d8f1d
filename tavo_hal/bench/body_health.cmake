tavo_add_benchmark(bench_body_health SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_body_health.cpp LIBS body_health)
