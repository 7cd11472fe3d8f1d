tavo_add_gtest(can_stats_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/can_stats_test.cpp LIBS can_stats)
