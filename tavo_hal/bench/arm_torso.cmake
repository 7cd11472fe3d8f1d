tavo_add_benchmark(bench_arm_torso SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_arm_torso.cpp LIBS codecs)
