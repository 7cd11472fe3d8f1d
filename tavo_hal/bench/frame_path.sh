#!/usr/bin/env bash
# Frame path from bus to ROS subscriber at nominal load, and the command path
# from ROS to bus. body_sim plays a "kestrel" body at the design rates for
# DURATION seconds (default 60) on a private virtual bus; frame_path_probe
# listens on the bus and on every feedback topic and matches frames with
# messages. Also: tavo_node's CPU share idle and under load, its peak memory.
# Usage: frame_path.sh BUILD_DIR   (env: DURATION, IDLE_SECONDS, COMMAND_SECONDS)
set -euo pipefail
export PATH=/usr/bin:/bin:$PATH
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-build-release}
[[ $build = /* ]] || build=$root/$build
bin=$build/devel/lib/tavo_hal
duration=${DURATION:-60}
idle=${IDLE_SECONDS:-10}
command_seconds=${COMMAND_SECONDS:-10}
for program in body_sim tavo_node frame_path_probe; do
  [ -x "$bin/$program" ] || { echo "frame_path: $bin/$program is missing" >&2; exit 2; }
done

# shellcheck source=SCRIPTDIR/../scripts/lib/processes.sh
source "$root/tavo_hal/scripts/lib/processes.sh"
run_dir=$(mktemp -d /tmp/tavo_frame_path.XXXXXX)
cleanup() {
  stop_started frame_path
  rm -rf "$run_dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

start() {  # start OUTPUT_FILE PROGRAM ARGS...: own process group, pid in $started
  start_program "$1" "$run_dir/stderr.log" "${@:2}"
}

use_private_ros_and_bus "$run_dir" || {
  echo "frame_path: no free loopback port" >&2
  exit 1
}

start_ros_master "$port" /dev/null "$run_dir/stderr.log"
mapfile -t params < <(node_params "$root/tavo_hal/config/kestrel.yaml")
start "$run_dir/node.out" "$bin/tavo_node" "${params[@]}"
node=$started
start "$run_dir/probe.out" "$bin/frame_path_probe" "$command_seconds"
probe=$started
wait_for_line "$run_dir/probe.out" '^ready' 30 || {
  echo "frame_path: probe not ready" >&2
  cat "$run_dir/stderr.log" >&2
  exit 1
}

ticks=$(getconf CLK_TCK)
# CPU share of tavo_node (user + system over wall time) while COMMAND runs.
measure_cpu() {
  local label=$1 t0 c0 t1 c1
  shift
  t0=$(date +%s.%N)
  c0=$(cpu_ticks "$node")
  "$@"
  t1=$(date +%s.%N)
  c1=$(cpu_ticks "$node")
  awk -v l="$label" -v c="$((c1 - c0))" -v hz="$ticks" -v a="$t0" -v b="$t1" \
    'BEGIN { printf "tavo_node CPU %-28s %6.1f %% of one core over %.1f s\n", l, 100 * c / hz / (b - a), b - a }'
}

echo "frame path: kestrel at the design rates for ${duration} s (idle ${idle} s first), virtual bus"
measure_cpu "idle (no frames)" sleep "$idle"
start "$run_dir/sim.out" "$bin/body_sim" --product kestrel --duration "$duration"
sim=$started
measure_cpu "under load (~2950 frames/s)" wait "$sim"
grep '^body_sim sent per stream' "$run_dir/sim.out" || true
wait "$probe" || true
grep -v '^ready' "$run_dir/probe.out"
echo "tavo_node peak resident memory: $(memory_kb "$node" VmHWM) kB"
if [ -s "$run_dir/stderr.log" ]; then
  echo "stderr of the programs (first lines):"
  head -5 "$run_dir/stderr.log"
fi
