# Update framing and message API: no bus access, so both ends of the link can use it.
tavo_add_shared_library(mcu_ota SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/src/fifo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/verify_func.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/ota_state.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/ota_protocol.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/protocol_api.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/fdcan_carrier.cpp)
# CAN_frame and FrameQueue: the update link's frames travel in them.
target_include_directories(mcu_ota PUBLIC ${CMAKE_CURRENT_LIST_DIR}/include ${CMAKE_CURRENT_LIST_DIR}/../communication/include)

# The firmware updater: drives the update over the bus. Its command line and
# progress line live in updater_cli so the tests can drive them without a bus.
add_library(updater_cli STATIC ${CMAKE_CURRENT_LIST_DIR}/src/updater_options.cpp
                               ${CMAKE_CURRENT_LIST_DIR}/src/transfer_progress.cpp)
target_include_directories(updater_cli PUBLIC ${CMAKE_CURRENT_LIST_DIR}/include ${TAVO_CORE_INCLUDES})
target_compile_options(updater_cli PRIVATE ${TAVO_WARNINGS})
if(TARGET communication AND TARGET dispatcher)
  tavo_add_program(mcu_updater SOURCES ${CMAKE_CURRENT_LIST_DIR}/app/mcu_updater.cpp
                   LIBS mcu_ota updater_cli dispatcher communication)
endif()
