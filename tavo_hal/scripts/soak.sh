#!/usr/bin/env bash
# Soak run: body_sim and tavo_node for "kestrel" (every command topic exists) on
# a private virtual bus and ROS master for DURATION seconds, while
# soak_commander publishes a command on every command topic at 100 Hz.
# Reports tavo_node's resident memory after the warm-up and at the end (fails
# when it grew by more than 5 %), commands published against command frames
# seen on the bus, feedback frames body_sim sent against messages received, and
# node restarts (fails when tavo_node's pid changed, it exited early, or it did
# not end with status 0 on SIGINT). A hiccup of the machine can overflow a ROS
# link's queue of 100 messages and cost a few frames; a stream that loses more
# than 0.1 % fails the run.
# Usage: soak.sh BUILD_DIR [DURATION]   (seconds, default 600; env WARMUP, default 10)
set -euo pipefail
export PATH=/usr/bin:/bin:$PATH
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-build}
[[ $build = /* ]] || build=$root/$build
duration=${2:-0}
[ "$duration" = 0 ] && duration=600
warmup=${WARMUP:-10}
bin=$build/devel/lib/tavo_hal
if ! [[ $duration =~ ^[0-9]+$ && $warmup =~ ^[0-9]+$ ]] || [ "$warmup" -ge "$duration" ]; then
  echo "soak: DURATION and WARMUP must be whole seconds, WARMUP below DURATION (got '$duration', '$warmup')" >&2
  exit 2
fi
for program in body_sim tavo_node soak_commander; do
  [ -x "$bin/$program" ] || { echo "soak: $bin/$program is missing; run make build first" >&2; exit 2; }
done

# shellcheck source=SCRIPTDIR/lib/processes.sh
source "$root/tavo_hal/scripts/lib/processes.sh"
run_dir=$(mktemp -d /tmp/tavo_soak.XXXXXX)
cleanup() {
  stop_started
  rm -rf "$run_dir/bus"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

start() {  # start OUTPUT_FILE PROGRAM ARGS...: own process group, pid in $started
  start_program "$1" "$run_dir/stderr.log" "${@:2}"
}

await_line() {  # await_line FILE PATTERN SECONDS
  wait_for_line "$@" && return 0
  echo "soak: no '$2' in $1 within $3 s" >&2
  cat "$run_dir/stderr.log" >&2
  exit 1
}

use_private_ros_and_bus "$run_dir" || {
  echo "soak: no free loopback port" >&2
  exit 1
}
echo "soak: ${duration} s, warm-up ${warmup} s, output in $run_dir"

start_ros_master "$port" /dev/null "$run_dir/stderr.log"
mapfile -t params < <(node_params "$root/tavo_hal/config/kestrel.yaml")
start "$run_dir/node.out" "$bin/tavo_node" "${params[@]}"
node=$started
await_line "$run_dir/node.out" "startDispatch thread started" 20
# The commander links to every topic before the body sends its first frame,
# so every feedback frame body_sim sends should come back as a message.
start "$run_dir/commander.out" "$bin/soak_commander" "$duration"
commander=$started
await_line "$run_dir/commander.out" "^ready" 30
start "$run_dir/body_sim.out" "$bin/body_sim" --product kestrel
sim=$started

failures=()
node_alive() { kill -0 "$node" 2>/dev/null && [ "$(cat "/proc/$node/comm" 2>/dev/null)" = tavo_node ]; }
sleep "$warmup"
node_alive || failures+=("tavo_node exited during the warm-up")
rss_start=$(memory_kb "$node" VmRSS || echo 0)
echo "soak: tavo_node pid $node, resident memory after the warm-up ${rss_start} kB"
elapsed=$warmup
while ! grep -q "^commands done" "$run_dir/commander.out"; do
  if ! node_alive; then
    failures+=("tavo_node (pid $node) exited after about ${elapsed} s")
    break
  fi
  if ((elapsed % 60 == 0)); then echo "soak: ${elapsed} s, tavo_node resident memory $(memory_kb "$node" VmRSS) kB"; fi
  sleep 1
  elapsed=$((elapsed + 1))
  if ((elapsed > duration + 60)); then
    failures+=("soak_commander did not finish its command phase")
    break
  fi
done
rss_end=$(memory_kb "$node" VmRSS 2>/dev/null || echo 0)

# Body first (it prints its totals), then give the node time to publish what is
# on its way, then the commander (it prints its feedback counts), then the node.
stop_and_wait "$sim" || failures+=("body_sim did not end with status 0 on SIGINT")
sleep 2
stop_and_wait "$commander" || failures+=("soak_commander did not end with status 0 on SIGINT")
node_status=0
if node_alive; then
  stop_and_wait "$node" || node_status=$?
  [ "$node_status" = 0 ] || failures+=("tavo_node ended with status $node_status on SIGINT (124: not within 5 s)")
fi
starts=$(grep -c "startDispatch thread started" "$run_dir/node.out" || true)
[ "$starts" = 1 ] || failures+=("tavo_node started its dispatcher $starts times")

echo
echo "== tavo_node resident memory (VmRSS)"
awk -v a="$rss_start" -v b="$rss_end" 'BEGIN {
  growth = a > 0 ? 100 * (b - a) / a : 0
  printf "after warm-up %d kB, at the end %d kB, growth %+.2f %%\n", a, b, growth
  exit (a > 0 && b > 0 && growth <= 5) ? 0 : 1 }' || failures+=("resident memory grew by more than 5 %")

echo "== commands: published at 100 Hz per topic vs frames on the bus"
awk '/^command / { printf "  %s published %d, on the bus %d, lost %d\n", $2, $4, $6, $4 - $6 }' "$run_dir/commander.out"
awk '/^command / { n++; if (($4 - $6) * 1000 > $4) bad++ } END { exit (n && !bad) ? 0 : 1 }' "$run_dir/commander.out" ||
  failures+=("command frames lost above 0.1 % (or no command report)")

echo "== feedback: frames body_sim sent vs messages received"
declare -A topic_of=(
  [left_arm]=/tavo/feedback_arm_left [right_arm]=/tavo/feedback_arm_right [torso]=/tavo/feedback_torso
  [torso_imu]=/tavo/imu_torso [chassis]=/tavo/feedback_chassis [remote]=/tavo/controller [ccu_imu]=/tavo/imu_chassis
  [bms]=/tavo/bms [left_hand]=/tavo/feedback_hand_left [right_hand]=/tavo/feedback_hand_right
  [left_arm_error]=/tavo/feedback_status_arm_left [right_arm_error]=/tavo/feedback_status_arm_right
  [torso_error]=/tavo/feedback_status_torso [chassis_error]=/tavo/feedback_status_chassis)
totals=$(grep "^body_sim sent per stream:" "$run_dir/body_sim.out" | cut -d: -f2 || true)
[ -n "$totals" ] || failures+=("body_sim printed no totals")
lossy_streams=0
for entry in $totals; do
  stream=${entry%%=*}
  sent=${entry#*=}
  topic=${topic_of[$stream]:-}
  [ -n "$topic" ] || continue
  received=$(awk -v t="$topic" '$1 == "feedback" && $2 == t {print $3}' "$run_dir/commander.out")
  received=${received:-0}
  printf "  %-16s sent %8d, %-34s received %8d, lost %d\n" "$stream" "$sent" "$topic" "$received" $((sent - received))
  (((sent - received) * 1000 > sent)) && lossy_streams=$((lossy_streams + 1))
done
[ "$lossy_streams" = 0 ] || failures+=("$lossy_streams feedback streams lost more than 0.1 % of their frames")

echo "== restarts"
echo "  tavo_node pid $node from start to end: dispatcher started $starts time(s), status $node_status on SIGINT"
echo
if [ ${#failures[@]} -eq 0 ]; then
  echo "soak: PASS"
else
  for f in "${failures[@]}"; do echo "soak: FAIL: $f"; done
  exit 1
fi
