tavo_add_gtest(can_stats_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/can_stats_test.cpp LIBS can_stats)
tavo_add_gtest(can_watch_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/can_watch_test.cpp LIBS communication TIMEOUT 180)
add_dependencies(can_watch_test can_watch)
