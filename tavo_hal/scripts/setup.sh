#!/usr/bin/env bash
# Installs the Debian packages one use of tavo needs. Idempotent: does nothing when all are present.
# Usage: setup.sh [host|demo|demo-rviz|arm64]
#   demo   building and running the product (what `make demo` needs)
#   demo-rviz  that, plus robot_state_publisher and RViz (`make demo RVIZ=1`)
#   host   that, plus the tests, benchmarks and fuzzing (the default: `make setup`)
#   arm64  the cross toolchain and emulator for `make build-arm64`, with the arm64 package lists
set -euo pipefail
export PATH=/usr/bin:/bin:/usr/sbin:/sbin:$PATH
set_name=${1:-host}
demo=(
  build-essential cmake pkg-config
  catkin ros-core-dev ros-message-generation libroscpp-dev libstd-msgs-dev libsensor-msgs-dev
  libdiagnostic-msgs-dev libdiagnostic-updater-dev python3-rosmaster python3-roslaunch
  libconcurrentqueue-dev libboost-dev
)
case $set_name in
  demo) packages=("${demo[@]}") ;;
  demo-rviz) packages=("${demo[@]}" ros-robot-state-publisher rviz) ;;
  host)
    # Beside the tests' own needs, the ROS tools the launch files start and the tests use as real clients:
    # robot_state_publisher and tf2_ros (/tf), diagnostic_aggregator (with its plugin description in the -dev
    # package) and rosdiagnostic (/diagnostics on the command line).
    packages=("${demo[@]}" python3-rostest python3-rostopic python3-sensor-msgs python3-catkin-pkg rosbash
      ros-robot-state-publisher libtf2-ros-dev python3-diagnostic-msgs rosdiagnostic libdiagnostic-aggregator-tools
      libdiagnostic-aggregator-dev
      libgtest-dev libgmock-dev googletest libbenchmark-dev clang libclang-rt-14-dev
      qemu-system-x86 busybox-static can-utils iproute2 python3-can stress-ng util-linux) ;;
  arm64) packages=(g++-aarch64-linux-gnu qemu-user-static) ;;
  *)
    echo "setup: unknown package set '$set_name' (host, demo, demo-rviz or arm64)" >&2
    exit 2 ;;
esac

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
# Waits for another apt or dpkg run rather than failing at once.
APT=(env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600)

# The arm64 build resolves arm64 packages: apt needs their lists.
if [ "$set_name" = arm64 ] && ! dpkg --print-foreign-architectures | grep -qx arm64; then
  echo "setup: adding the arm64 architecture"
  $SUDO dpkg --add-architecture arm64
  $SUDO "${APT[@]}" update
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all ${#packages[@]} packages of '$set_name' present"
  exit 0
fi
echo "setup: installing ${missing[*]}"
$SUDO "${APT[@]}" update
$SUDO "${APT[@]}" install -y --no-install-recommends "${missing[@]}"
