# mcu_sim: the simulated MCU bootloader for mcu_updater.
if(TARGET communication AND TARGET mcu_ota)
  tavo_add_program(mcu_sim SOURCES mcu_sim.cpp src/mcu_bootloader.cpp LIBS mcu_ota communication Threads::Threads)
  target_include_directories(mcu_sim PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/include)
endif()
