# Update framing, message API and the CAN-FD carrier length rule.
tavo_add_gtest(mcu_ota_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/verify_func_test.cpp ${CMAKE_CURRENT_SOURCE_DIR}/ota_protocol_test.cpp
          ${CMAKE_CURRENT_SOURCE_DIR}/protocol_api_test.cpp ${CMAKE_CURRENT_SOURCE_DIR}/fdcan_carrier_test.cpp
  LIBS mcu_ota)
