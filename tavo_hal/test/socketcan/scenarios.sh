#!/bin/bash
# Runs inside the VM (chroot into this machine's root, read-only): brings up
# the CAN-FD vcan devices and runs every scenario program against them, each
# bounded in time. One line per scenario goes to summary.txt in the results
# share ("PASS name seconds" or "FAIL name seconds reason"), then "done".
#
#   scenarios.sh BUILD_DIR RESULTS_DIR
set -u
build=$1
results=$2
export PATH=/usr/bin:/bin:/usr/sbin:/sbin
export HOME=/tmp/home ROS_HOME=/tmp/home/.ros ROS_LOG_DIR=/tmp/ros_log
export TAVO_BIN_DIR=$build/devel/lib/tavo_hal TAVO_SOURCE_DIR=$(dirname "$(dirname "$(dirname "$0")")")
export TAVO_TEST_BUS=kernel  # the ROS test harness then uses can0, not a virtual bus
unset TAVO_VIRTUAL_CAN_DIR
mkdir -p "$HOME"
checks=$TAVO_BIN_DIR
summary=$results/summary.txt
: >"$summary"

# Seconds since boot: the scenarios step the wall clock, durations must not follow it.
uptime_s() { cut -d' ' -f1 /proc/uptime; }

ip link set lo up
for dev in can0 vcan0; do
  ip link add dev "$dev" type vcan && ip link set "$dev" mtu 72 up || echo "FAIL setup 0 cannot create $dev" >>"$summary"
done
echo "kernel $(uname -r), $(nproc) CPUs; $(ip -d link show can0 | head -1)"

wanted() { [ -z "${SCENARIOS:-}" ] || [[ " $SCENARIOS " == *" $1 "* ]]; }

# scenario NAME LIMIT_S PROGRAM ARGS...: one gtest program, its output in NAME.log and NAME.xml.
scenario() {
  local name=$1 limit=$2
  shift 2
  wanted "$name" || return 0
  local t0 status
  t0=$(uptime_s)
  echo "== $name (limit $limit s)"
  timeout -k 10 "$limit" "$@" --gtest_output="xml:$results/$name.xml" >"$results/$name.log" 2>&1
  status=$?
  local took
  took=$(awk -v a="$t0" -v b="$(uptime_s)" 'BEGIN {printf "%.0f", b - a}')
  grep -E '^\[ +(OK|FAILED|SKIPPED) +\]|^FIGURE' "$results/$name.log" | sed 's/^/   /'
  if [ "$status" -eq 0 ] && grep -q '^\[  PASSED  \]' "$results/$name.log" && ! grep -q '^\[  SKIPPED \]' "$results/$name.log"; then
    echo "PASS $name $took s" >>"$summary"
  elif [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    echo "FAIL $name $took s timed out after $limit s" >>"$summary"
  else
    echo "FAIL $name $took s status $status" >>"$summary"
  fi
  tail -1 "$summary"
}

scenario socketcan_backend 120 "$checks/communication_socketcan_test"
scenario can_utils 300 "$checks/vm_can_utils_test"
scenario can_watch 180 "$checks/vm_can_watch_test"
scenario body_node 300 "$checks/vm_body_node_test"
scenario bus_log 180 "$checks/vm_bus_log_test"
scenario mcu_updater 700 "$checks/vm_mcu_updater_test"
# Clock-source changes explain jumps of the guest's clocks, should a wait misbehave.
dmesg | grep -iE 'clocksource|tsc:' | tail -4
echo "done" >>"$summary"
sync
