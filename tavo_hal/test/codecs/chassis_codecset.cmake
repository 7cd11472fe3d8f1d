tavo_add_gtest(test_chassis_analysis SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_chassis_analysis.cpp)
