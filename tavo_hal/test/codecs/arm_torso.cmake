tavo_add_gtest(test_arm_analysis SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_arm_analysis.cpp)
tavo_add_gtest(test_torso_analysis SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_torso_analysis.cpp)
tavo_add_gtest(test_protocol_arm SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_protocol_arm.cpp LIBS codecs)
tavo_add_gtest(test_protocol_torso SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_protocol_torso.cpp LIBS codecs)
