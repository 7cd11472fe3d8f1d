# tavo_node against a hostile bus: random floods, every body identifier at
# every length, a body that vanishes and comes back.
tavo_add_gtest(bus_fault_injection_test SOURCES bus_fault_injection_test.cpp node_harness.cpp
               LIBS communication ${catkin_LIBRARIES} TIMEOUT 120)
add_dependencies(bus_fault_injection_test tavo_node body_sim ${catkin_EXPORTED_TARGETS})

# soak_commander: the commanding and counting end of scripts/soak.sh (a program, not a test).
tavo_add_test_program(soak_commander SOURCES soak_commander.cpp LIBS communication ${catkin_LIBRARIES})
