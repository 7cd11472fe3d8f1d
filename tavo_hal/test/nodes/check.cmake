tavo_add_gtest(self_check_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/self_check_test.cpp LIBS self_check)
