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

run_dir=$(mktemp -d /tmp/tavo_frame_path.XXXXXX)
pids=()
cleanup() {
  # Our programs end cleanly on SIGINT; the ROS master (first) is quicker with SIGTERM.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill -"$([ "$i" -eq 0 ] && echo TERM || echo INT)" -- "-${pids[i]}" 2>/dev/null || true
  done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$pid" 2>/dev/null; then
      echo "frame_path: $(cat "/proc/$pid/comm" 2>/dev/null) did not stop on SIGINT; killed" >&2
      kill -KILL -- "-$pid" 2>/dev/null || true
    fi
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$run_dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

start() {  # start OUTPUT_FILE PROGRAM ARGS...: own process group, pid in $started
  local out=$1
  shift
  setsid "$@" >"$out" 2>>"$run_dir/stderr.log" </dev/null &
  started=$!
  pids+=("$started")
}

port=
for _ in $(seq 100); do
  candidate=$((20000 + RANDOM % 40000))
  (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null || { port=$candidate; break; }
done
[ -n "$port" ] || { echo "frame_path: no free loopback port" >&2; exit 1; }
export ROS_MASTER_URI=http://127.0.0.1:$port ROS_IP=127.0.0.1 TAVO_VIRTUAL_CAN_DIR=$run_dir/bus
unset ROS_HOSTNAME
mkdir -p "$TAVO_VIRTUAL_CAN_DIR"

start /dev/null rosmaster --core -p "$port"
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
mapfile -t params < <(sed -n 's/^\([a-z_]*\): *"\{0,1\}\([^"]*\)"\{0,1\} *$/_\1:=\2/p' "$root/tavo_hal/config/kestrel.yaml")
start "$run_dir/node.out" "$bin/tavo_node" "${params[@]}"
node=$started
start "$run_dir/probe.out" "$bin/frame_path_probe" "$command_seconds"
probe=$started
for _ in $(seq 300); do grep -q '^ready' "$run_dir/probe.out" && break; sleep 0.1; done
grep -q '^ready' "$run_dir/probe.out" || { echo "frame_path: probe not ready" >&2; cat "$run_dir/stderr.log" >&2; exit 1; }

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
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
echo "tavo_node peak resident memory: $(awk '/VmHWM/ {print $2, $3}' "/proc/$node/status")"
if [ -s "$run_dir/stderr.log" ]; then
  echo "stderr of the programs (first lines):"
  head -5 "$run_dir/stderr.log"
fi
