#!/usr/bin/env bash
# make build-arm64: cross-compiles the whole workspace (product and tests) for the robot's 64-bit Arm
# computer, installs the product under BUILD_DIR/deploy (prefix /opt/tavo, or TAVO_ROBOT_PREFIX), and runs
# the unit tests (no ROS, no programs started) under qemu-aarch64-static, then the installed tavo_node and
# body_sim under it until feedback arrives.
# Usage: build_arm64.sh [BUILD_DIR]    (JOBS: parallel compile jobs)
set -euo pipefail
export PATH=/usr/bin:/bin:/usr/sbin:/sbin:$PATH
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-build-arm64}
[[ $build = /* ]] || build=$root/$build
jobs=${JOBS:-$(nproc)}
prefix=${TAVO_ROBOT_PREFIX:-/opt/tavo}
sysroot=$build/sysroot
start=$SECONDS
step() { echo "== build-arm64: $1 ($((SECONDS - start)) s)"; }

step "arm64 sysroot"
"$root/tavo_hal/scripts/arm64_sysroot.sh" "$sysroot"

step "configure"
mkdir -p "$build"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/tavo_hal/cmake/aarch64-linux-gnu.cmake" \
  -DTAVO_ARM64_SYSROOT="$sysroot" -DPYTHON_EXECUTABLE=/usr/bin/python3 -DCATKIN_ENABLE_TESTING=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX="$prefix" >"$build/configure.log" 2>&1 || {
  cat "$build/configure.log"
  exit 1
}

step "compile"
cmake --build "$build" -j"$jobs" --target all tests

step "install"
rm -rf "$build/deploy"
DESTDIR="$build/deploy" cmake --install "$build" >"$build/install.log"
deployed=$build/deploy$prefix
for program in "$deployed"/lib/tavo_hal/*; do
  [ "$(head -c 2 "$program")" = '#!' ] && continue  # scripts run on any machine
  readelf -h "$program" | grep -q 'Machine:.*AArch64' || { echo "build-arm64: $program is not an arm64 program" >&2; exit 1; }
done

step "unit tests under qemu-aarch64-static"
(cd "$build/tavo_hal" && ctest --output-on-failure --timeout 600 -L '^unit$')

# The installed programs, as on the robot (libraries from the sysroot, as apt gives them there): body_sim and
# tavo_node under the emulator, with a private ROS master and bus, until arm feedback arrives.
step "installed tavo_node and body_sim under qemu-aarch64-static"
# shellcheck source=lib/processes.sh
source "$root/tavo_hal/scripts/lib/processes.sh"
run=$(mktemp -d /tmp/tavo_arm64_run.XXXXXX)
trap 'stop_started build-arm64; rm -rf "$run"' EXIT
use_private_ros_and_bus "$run" || { echo "build-arm64: no free loopback port" >&2; exit 1; }
arm64=(qemu-aarch64-static -L /usr/aarch64-linux-gnu
  -E "LD_LIBRARY_PATH=$sysroot/usr/lib/aarch64-linux-gnu:$sysroot/lib/aarch64-linux-gnu")
start_ros_master "$port" "$run/log" "$run/log"
mapfile -t params < <(node_params "$deployed/share/tavo_hal/config/osprey.yaml")
start_program "$run/log" "$run/log" "${arm64[@]}" "$deployed/lib/tavo_hal/tavo_node" "${params[@]}"
start_program "$run/log" "$run/log" "${arm64[@]}" "$deployed/lib/tavo_hal/body_sim" --product osprey
if ! timeout 60 rostopic echo -n 1 /tavo/feedback_arm_left >"$run/sample" 2>&1 || ! grep -q '^position: \[' "$run/sample"; then
  cat "$run/sample" "$run/log"
  echo "build-arm64: no arm feedback from the installed arm64 programs" >&2
  exit 1
fi

step "done"
echo "build-arm64: the robot's install space is $deployed; copy it to $prefix on the robot (README)"
