#!/usr/bin/env bash
# Frame path from bus to ROS subscriber at nominal load, and the command path
# from ROS to bus. body_sim plays a "kestrel" body at the design rates for
# DURATION seconds (default 60) on a private virtual bus; frame_path_probe
# listens on the bus and on every feedback topic and matches frames with
# messages. Also: tavo_node's CPU share idle and under load, in total and per
# thread, and its peak memory.
# Usage: frame_path.sh BUILD_DIR   (env: DURATION, IDLE_SECONDS, COMMAND_SECONDS, NODE_ARGS: more private
# parameters for tavo_node, e.g. NODE_ARGS=_joint_states_rate:=0)
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
read -ra node_args <<<"${NODE_ARGS:-}"
start "$run_dir/node.out" "$bin/tavo_node" "${params[@]}" "${node_args[@]}"
node=$started
start "$run_dir/probe.out" "$bin/frame_path_probe" "$command_seconds"
probe=$started
wait_for_line "$run_dir/probe.out" '^ready' 30 || {
  echo "frame_path: probe not ready" >&2
  cat "$run_dir/stderr.log" >&2
  exit 1
}

ticks=$(getconf CLK_TCK)
# CPU share of tavo_node (user + system over wall time) while COMMAND runs; the
# per-thread figures of the phase go to $run_dir/threads.KEY ("TID NAME PERCENT").
measure_cpu() {
  local label=$1 key=$2 t0 c0 t1 c1
  shift 2
  t0=$(date +%s.%N)
  c0=$(cpu_ticks "$node")
  thread_cpu_ticks "$node" >"$run_dir/before.$key"
  "$@"
  t1=$(date +%s.%N)
  c1=$(cpu_ticks "$node")
  thread_cpu_ticks "$node" >"$run_dir/after.$key"
  awk -v hz="$ticks" -v s="$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')" \
    'NR == FNR { before[$1] = $3; next } { print $1, $2, 100 * ($3 - before[$1]) / hz / s }' \
    "$run_dir/before.$key" "$run_dir/after.$key" >"$run_dir/threads.$key"
  awk -v l="$label" -v c="$((c1 - c0))" -v hz="$ticks" -v a="$t0" -v b="$t1" \
    'BEGIN { printf "tavo_node CPU %-28s %6.1f %% of one core over %.1f s\n", l, 100 * c / hz / (b - a), b - a }'
}

# Per-thread table of both phases, threads of one name summed ([n]: how many).
# The main thread shows as "main"; the other unnamed threads keep the program's
# name: roscpp's own, the spinner's and the fan thread (its name is too long).
print_thread_table() {
  awk -v pid="$node" '
    {
      name = $1 == pid ? "main" : $2; phase = FILENAME ~ /idle$/ ? 1 : 2
      if (!(name in known)) { known[name] = 1; order[++n] = name }
      share[name, phase] += $3; threads[name, phase]++; total[phase] += $3
    }
    END {
      printf "tavo_node CPU per thread (%% of one core)   idle     load\n"
      for (i = 1; i <= n; i++) {
        name = order[i]; count = threads[name, 1] > threads[name, 2] ? threads[name, 1] : threads[name, 2]
        printf "  %-36s %7.2f  %7.2f\n", name (count > 1 ? " [" count "]" : ""), share[name, 1], share[name, 2]
      }
      printf "  %-36s %7.2f  %7.2f\n", "all threads", total[1], total[2]
    }' "$run_dir/threads.idle" "$run_dir/threads.load"
}

echo "frame path: kestrel at the design rates for ${duration} s (idle ${idle} s first), virtual bus"
measure_cpu "idle (no frames)" idle sleep "$idle"
start "$run_dir/sim.out" "$bin/body_sim" --product kestrel --duration "$duration"
sim=$started
measure_cpu "under load (~2950 frames/s)" load wait "$sim"
grep '^body_sim sent per stream' "$run_dir/sim.out" || true
wait "$probe" || true
grep -v '^ready' "$run_dir/probe.out"
print_thread_table
echo "tavo_node peak resident memory: $(memory_kb "$node" VmHWM) kB"
if [ -s "$run_dir/stderr.log" ]; then
  echo "stderr of the programs (first lines):"
  head -5 "$run_dir/stderr.log"
fi
