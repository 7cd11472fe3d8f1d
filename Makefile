# Entry points: setup, build, test, test-asan, test-tsan, test-socketcan, demo, bench, fuzz, fuzz-smoke, soak.
SHELL := /bin/bash
# Debian's ROS tools need Debian's python3, not a pyenv one earlier on PATH.
export PATH := /usr/bin:/bin:/usr/sbin:/sbin:$(PATH)
JOBS ?= $(shell nproc)
DURATION ?= 0
CMAKE_COMMON := -DPYTHON_EXECUTABLE=/usr/bin/python3 -DCATKIN_ENABLE_TESTING=OFF
CTEST := ctest --output-on-failure --timeout 600

.PHONY: setup build build-asan build-tsan build-release test test-asan test-tsan test-socketcan bench demo fuzz fuzz-smoke soak clean

setup:
	@tavo_hal/scripts/setup.sh

define configure_and_build
	cmake -S . -B $(1) $(CMAKE_COMMON) $(2) > $(1).configure.log 2>&1 || { cat $(1).configure.log; exit 1; }
	cmake --build $(1) -j$(JOBS)
endef

build: setup
	$(call configure_and_build,build,-DCMAKE_BUILD_TYPE=RelWithDebInfo)

build-asan: setup
	$(call configure_and_build,build-asan,-DCMAKE_BUILD_TYPE=Debug -DTAVO_SANITIZE=address)

build-tsan: setup
	$(call configure_and_build,build-tsan,-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVO_SANITIZE=thread)

build-release: setup
	$(call configure_and_build,build-release,-DCMAKE_BUILD_TYPE=Release)

test: build
	cd build/tavo_hal && $(CTEST)

test-asan: build-asan
	cd build-asan/tavo_hal && $(CTEST)

test-tsan: build-tsan
	cd build-tsan/tavo_hal && $(CTEST)

# The real-kernel tier: the scenarios run in a QEMU VM on a CAN-FD vcan.
test-socketcan: build
	tavo_hal/test/socketcan/boot_vm.sh build

bench: build-release
	tavo_hal/scripts/bench.sh build-release

demo: build
	tavo_hal/scripts/demo.sh build $(DURATION)

soak: build
	tavo_hal/scripts/soak.sh build $(DURATION)

fuzz: setup
	cmake -S tavo_hal/test/fuzz -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ > build-fuzz.configure.log 2>&1 || { cat build-fuzz.configure.log; exit 1; }
	cmake --build build-fuzz -j$(JOBS)

fuzz-smoke: fuzz
	tavo_hal/scripts/fuzz_smoke.sh build-fuzz

clean:
	rm -rf build build-asan build-tsan build-release build-fuzz build*.configure.log
