tavo_add_benchmark(bench_dispatcher SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_dispatcher.cpp LIBS dispatcher codecs)
