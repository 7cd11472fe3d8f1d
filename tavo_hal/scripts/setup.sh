#!/usr/bin/env bash
# Installs every Debian package that building, testing and running tavo needs.
# Idempotent: does nothing when all are present.
set -euo pipefail
export PATH=/usr/bin:/bin:/usr/sbin:/sbin:$PATH
packages=(
  build-essential cmake pkg-config
  catkin ros-core-dev ros-message-generation libroscpp-dev
  libstd-msgs-dev libsensor-msgs-dev python3-rosmaster python3-roslaunch python3-rostest rosbash
  libconcurrentqueue-dev libboost-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang libclang-rt-14-dev
  qemu-system-x86 busybox-static can-utils iproute2
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all ${#packages[@]} packages present"
  exit 0
fi
echo "setup: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
