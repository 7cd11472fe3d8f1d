# Entry points: setup, build, test, test-asan, test-tsan, test-socketcan, demo, bench, fuzz, fuzz-smoke, soak,
# build-arm64.
SHELL := /bin/bash
# Debian's ROS tools need Debian's python3, not a pyenv one earlier on PATH.
export PATH := /usr/bin:/bin:/usr/sbin:/sbin:$(PATH)
JOBS ?= $(shell nproc)
DURATION ?= 0
# Testing enabled, as catkin_make has it: the test programs are configured but built only by the `tests` target.
CMAKE_COMMON := -DPYTHON_EXECUTABLE=/usr/bin/python3 -DCATKIN_ENABLE_TESTING=ON
CTEST := ctest --output-on-failure --timeout 600
# What `make demo` runs, and so all it builds.
DEMO_PROGRAMS := tavo_node body_sim can_replay demo_view

.PHONY: setup setup-demo setup-arm64 build build-asan build-tsan build-release test test-asan test-tsan test-socketcan bench demo \
        fuzz fuzz-smoke soak build-arm64 clean

setup:
	@tavo_hal/scripts/setup.sh host

setup-demo:
	@tavo_hal/scripts/setup.sh demo

setup-arm64:
	@tavo_hal/scripts/setup.sh arm64

# configure DIR, FLAGS: (re)configures the workspace in DIR.
define configure
	cmake -S . -B $(1) $(CMAKE_COMMON) $(2) > $(1).configure.log 2>&1 || { cat $(1).configure.log; exit 1; }
endef

build: setup
	$(call configure,build,-DCMAKE_BUILD_TYPE=RelWithDebInfo)
	cmake --build build -j$(JOBS)

build-asan: setup
	$(call configure,build-asan,-DCMAKE_BUILD_TYPE=Debug -DTAVO_SANITIZE=address)
	cmake --build build-asan -j$(JOBS) --target all tests

build-tsan: setup
	$(call configure,build-tsan,-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVO_SANITIZE=thread)
	cmake --build build-tsan -j$(JOBS) --target all tests

build-release: setup
	$(call configure,build-release,-DCMAKE_BUILD_TYPE=Release -DTAVO_BENCHMARKS=ON)
	cmake --build build-release -j$(JOBS)

test: build
	cmake --build build -j$(JOBS) --target tests
	cd build/tavo_hal && $(CTEST)

test-asan: build-asan
	cd build-asan/tavo_hal && $(CTEST)

test-tsan: build-tsan
	cd build-tsan/tavo_hal && $(CTEST)

# The real-kernel tier: the scenarios run in a QEMU VM on a CAN-FD vcan.
test-socketcan: build
	cmake --build build -j$(JOBS) --target tests
	tavo_hal/test/socketcan/boot_vm.sh build

bench: build-release
	tavo_hal/scripts/bench.sh build-release

# RVIZ=1 adds robot_state_publisher and RViz on the simulated body (installed only then).
demo:
	@tavo_hal/scripts/setup.sh $(if $(filter 1,$(RVIZ)),demo-rviz,demo)
	$(call configure,build,-DCMAKE_BUILD_TYPE=RelWithDebInfo)
	cmake --build build -j$(JOBS) --target $(DEMO_PROGRAMS)
	RVIZ=$(RVIZ) tavo_hal/scripts/demo.sh build $(DURATION)

soak: build
	cmake --build build -j$(JOBS) --target soak_commander
	tavo_hal/scripts/soak.sh build $(DURATION)

fuzz: setup
	cmake -S tavo_hal/test/fuzz -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ > build-fuzz.configure.log 2>&1 || { cat build-fuzz.configure.log; exit 1; }
	cmake --build build-fuzz -j$(JOBS)

fuzz-smoke: fuzz
	tavo_hal/scripts/fuzz_smoke.sh build-fuzz

# Cross-compiles the workspace for the robot's 64-bit Arm computer, installs it into build-arm64/install and
# runs the unit tests under qemu-aarch64-static.
build-arm64: setup-arm64
	tavo_hal/scripts/build_arm64.sh build-arm64

clean:
	rm -rf build build-asan build-tsan build-release build-fuzz build-arm64 build*.configure.log
