# Update framing and message API: no bus access, so both ends of the link can use it.
add_library(mcu_ota SHARED
  ${CMAKE_CURRENT_LIST_DIR}/src/fifo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/verify_func.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/ota_state.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/ota_protocol.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/protocol_api.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/fdcan_carrier.cpp)
# CAN_frame and FrameQueue: the update link's frames travel in them.
target_include_directories(mcu_ota PUBLIC ${CMAKE_CURRENT_LIST_DIR}/include ${CMAKE_CURRENT_LIST_DIR}/../communication/include)
target_compile_options(mcu_ota PRIVATE ${TAVO_WARNINGS})

# The firmware updater: drives the update over the bus.
if(TARGET communication AND TARGET dispatcher)
  add_executable(mcu_updater ${CMAKE_CURRENT_LIST_DIR}/app/mcu_updater.cpp)
  target_compile_options(mcu_updater PRIVATE ${TAVO_WARNINGS})
  target_link_libraries(mcu_updater PRIVATE mcu_ota dispatcher communication)
  set_target_properties(mcu_updater PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CATKIN_DEVEL_PREFIX}/lib/tavo_hal)
endif()
