# tavo_node against a hostile bus: random floods, every body identifier at
# every length, a body that vanishes and comes back.
tavo_add_gtest(bus_fault_injection_test SOURCES bus_fault_injection_test.cpp node_harness.cpp
               LIBS communication ${catkin_LIBRARIES} TIMEOUT 120)
add_dependencies(bus_fault_injection_test tavo_node body_sim ${catkin_EXPORTED_TARGETS})

# soak_commander: the commanding and counting end of scripts/soak.sh (a program, not a test).
add_executable(soak_commander soak_commander.cpp)
target_compile_options(soak_commander PRIVATE ${TAVO_WARNINGS})
target_include_directories(soak_commander PRIVATE ${TAVO_CORE_INCLUDES})
target_link_libraries(soak_commander PRIVATE communication ${catkin_LIBRARIES})
add_dependencies(soak_commander ${catkin_EXPORTED_TARGETS})
set_target_properties(soak_commander PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CATKIN_DEVEL_PREFIX}/lib/tavo_hal)
