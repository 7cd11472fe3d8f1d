tavo_add_gtest(test_chassis_analysis SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_chassis_analysis.cpp)
tavo_add_gtest(test_protocol_chassis SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_protocol_chassis.cpp LIBS codecs)
tavo_add_gtest(test_codec_set SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_codec_set.cpp LIBS codecs)
tavo_add_gtest(read_worker_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/read_worker_test.cpp LIBS codecs)
