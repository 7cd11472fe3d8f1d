# Cross-compiling for the robot's 64-bit Arm computer with Debian's toolchain (g++-aarch64-linux-gnu).
# TAVO_ARM64_SYSROOT holds Debian's arm64 ROS, Boost and GoogleTest packages (scripts/arm64_sysroot.sh); the C
# and C++ runtime is the toolchain's own. catkin and the message generators are arch-independent host tools.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TAVO_ARM64_SYSROOT)  # the compiler checks read this file too
if(NOT TAVO_ARM64_SYSROOT)
  message(FATAL_ERROR "Set TAVO_ARM64_SYSROOT to the arm64 sysroot (make build-arm64 does)")
endif()
# The toolchain's own C library lives in /usr/aarch64-linux-gnu.
set(CMAKE_FIND_ROOT_PATH ${TAVO_ARM64_SYSROOT} /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)  # catkin finds generated files in the devel space by find_file
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Debian's ROS packages expect their headers on the default path (/usr/include) and name some libraries as
# plain -l flags: the sysroot's folders come after the toolchain's own, so its C library always wins.
set(_arm64_libs ${TAVO_ARM64_SYSROOT}/usr/lib/aarch64-linux-gnu)
set(_arm64_base_libs ${TAVO_ARM64_SYSROOT}/lib/aarch64-linux-gnu)
set(CMAKE_CXX_FLAGS_INIT
    "-idirafter ${TAVO_ARM64_SYSROOT}/usr/include/aarch64-linux-gnu -idirafter ${TAVO_ARM64_SYSROOT}/usr/include")
set(CMAKE_C_FLAGS_INIT "${CMAKE_CXX_FLAGS_INIT}")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT
      "-L${_arm64_libs} -Wl,-rpath-link,${_arm64_libs} -Wl,-rpath-link,${_arm64_base_libs}")
endforeach()

# Programs built here run under the emulator (ctest does this by itself).
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static -L /usr/aarch64-linux-gnu
    -E LD_LIBRARY_PATH=${_arm64_libs}:${_arm64_base_libs})
