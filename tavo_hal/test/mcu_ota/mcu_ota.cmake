# Update framing, message API and the CAN-FD carrier length rule.
tavo_add_gtest(mcu_ota_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/verify_func_test.cpp ${CMAKE_CURRENT_SOURCE_DIR}/ota_protocol_test.cpp
          ${CMAKE_CURRENT_SOURCE_DIR}/protocol_api_test.cpp ${CMAKE_CURRENT_SOURCE_DIR}/fdcan_carrier_test.cpp
  LIBS mcu_ota)

# mcu_updater against mcu_sim on a private virtual bus.
if(TARGET mcu_updater AND TARGET mcu_sim)
  add_library(ota_session STATIC ${CMAKE_CURRENT_SOURCE_DIR}/ota_session.cpp)
  target_compile_options(ota_session PRIVATE ${TAVO_WARNINGS})
  target_link_libraries(ota_session PUBLIC test_support mcu_ota communication)
  # Steps the wall clock of a program it is preloaded into; plain code, also in sanitizer builds.
  add_library(wall_clock_step SHARED ${CMAKE_CURRENT_SOURCE_DIR}/../support/wall_clock_step.cpp)
  set_target_properties(wall_clock_step PROPERTIES COMPILE_OPTIONS "${TAVO_WARNINGS}" LINK_OPTIONS ""
                                                   LIBRARY_OUTPUT_DIRECTORY ${CATKIN_DEVEL_PREFIX}/lib/tavo_hal)
  tavo_add_gtest(mcu_updater_test
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/mcu_updater_test.cpp ${CMAKE_CURRENT_SOURCE_DIR}/mcu_updater_clock_test.cpp
    LIBS ota_session TIMEOUT 300)
  add_dependencies(mcu_updater_test mcu_updater mcu_sim wall_clock_step)
  # 256 KiB and 1 MiB images: about 20 s for the larger on a loaded machine.
  tavo_add_gtest(mcu_updater_big_image_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/mcu_updater_big_image_test.cpp
                 LIBS ota_session TIMEOUT 600)
  add_dependencies(mcu_updater_big_image_test mcu_updater mcu_sim)
  tavo_add_gtest(mcu_updater_batch_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/mcu_updater_batch_test.cpp
                 LIBS ota_session TIMEOUT 300)
  add_dependencies(mcu_updater_batch_test mcu_updater mcu_sim)
endif()
