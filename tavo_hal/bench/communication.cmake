tavo_add_benchmark(bench_virtual_bus SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_virtual_bus.cpp LIBS communication)
