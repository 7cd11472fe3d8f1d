#!/usr/bin/env bash
# can_watch's CPU share when the bus is idle, and its CPU share and frames
# handled per second while body_sim plays an "osprey" body at the design rates
# on the same private virtual bus.
# Usage: can_watch.sh BUILD_DIR   (env: IDLE_SECONDS, LOAD_SECONDS)
set -euo pipefail
export PATH=/usr/bin:/bin:$PATH
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-build-release}
[[ $build = /* ]] || build=$root/$build
bin=$build/devel/lib/tavo_hal
idle=${IDLE_SECONDS:-5}
load=${LOAD_SECONDS:-10}
for program in can_watch body_sim; do
  [ -x "$bin/$program" ] || { echo "can_watch bench: $bin/$program is missing" >&2; exit 2; }
done

# shellcheck source=SCRIPTDIR/../scripts/lib/processes.sh
source "$root/tavo_hal/scripts/lib/processes.sh"
run_dir=$(mktemp -d /tmp/tavo_can_watch_bench.XXXXXX)
cleanup() {
  stop_started
  rm -rf "$run_dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

export TAVO_VIRTUAL_CAN_DIR=$run_dir/bus
mkdir -p "$TAVO_VIRTUAL_CAN_DIR"
ticks=$(getconf CLK_TCK)
frames_logged() { grep -c "Total frames" "$run_dir/can_logs.txt" 2>/dev/null || true; }

# can_watch writes its log files into its working directory.
start_program /dev/null "$run_dir/can_watch.err" env -C "$run_dir" "$bin/can_watch"
watch=$started
sleep 1

before=$(cpu_ticks "$watch")
sleep "$idle"
after=$(cpu_ticks "$watch")
awk -v t=$((after - before)) -v hz="$ticks" -v s="$idle" \
  'BEGIN { printf "can_watch idle: %.1f %% of one core over %d s\n", 100 * t / hz / s, s }'

start_program /dev/null "$run_dir/body_sim.err" "$bin/body_sim" --product osprey
sleep 2
before=$(cpu_ticks "$watch")
frames_before=$(frames_logged)
sleep "$load"
after=$(cpu_ticks "$watch")
frames_after=$(frames_logged)
awk -v t=$((after - before)) -v hz="$ticks" -v s="$load" -v f=$((frames_after - frames_before)) \
  'BEGIN { printf "can_watch under body_sim (osprey): %.0f frames/s handled, %.1f %% of one core over %d s\n", f / s, 100 * t / hz / s, s }'
