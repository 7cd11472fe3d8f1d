# mcu_sim: the simulated MCU bootloader for mcu_updater.
if(TARGET communication AND TARGET mcu_ota)
  add_executable(mcu_sim mcu_sim.cpp src/mcu_bootloader.cpp)
  target_include_directories(mcu_sim PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/include)
  target_compile_options(mcu_sim PRIVATE ${TAVO_WARNINGS})
  target_link_libraries(mcu_sim PRIVATE mcu_ota communication Threads::Threads)
  set_target_properties(mcu_sim PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CATKIN_DEVEL_PREFIX}/lib/tavo_hal)
endif()
