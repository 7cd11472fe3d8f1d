tavo_add_gtest(ccu_analysis_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ccu_analysis_test.cpp)
tavo_add_gtest(hand_analysis_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/hand_analysis_test.cpp)
tavo_add_gtest(error_analysis_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/error_analysis_test.cpp)
