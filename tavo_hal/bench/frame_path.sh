#!/usr/bin/env bash
# Frame path from bus to ROS subscriber at nominal load, and the command path
# from ROS to bus. body_sim plays a "kestrel" body at the design rates for
# DURATION seconds (default 60) on a private virtual bus; frame_path_probe
# listens on the bus and on every feedback topic and matches frames with
# messages, and gives the age of the left arm messages (it swings that arm).
# Also: tavo_node's CPU share idle and under load, in total and per thread,
# and its peak memory; and how late the machine itself woke a 1 ms sleeper at
# the highest real-time priority meanwhile (wake_latency), which no program in
# the machine can hold up: what it shows is the platform's (a virtual
# machine's host), and the node cannot do better.
# Usage: frame_path.sh BUILD_DIR   (env: DURATION, IDLE_SECONDS, COMMAND_SECONDS, STRESS, REALTIME, FLOOD,
# NODE_ARGS)
#   STRESS=N    N CPU hogs (stress-ng --cpu N) beside it while body_sim plays and through the command phase
#   REALTIME=1  tavo_node with its real-time parameters, body_sim and the probe at SCHED_FIFO (the body
#               is hardware on a robot, and its controller would be real-time too)
#   FLOOD=X     body_sim at X times the design rates; tavo_node's resident memory every 5 s, instead of
#               the command phase
#   NODE_ARGS   more private parameters for tavo_node, e.g. NODE_ARGS=_joint_states_rate:=0
set -euo pipefail
export PATH=/usr/bin:/bin:$PATH
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-build-release}
[[ $build = /* ]] || build=$root/$build
bin=$build/devel/lib/tavo_hal
duration=${DURATION:-60}
idle=${IDLE_SECONDS:-10}
command_seconds=${COMMAND_SECONDS:-10}
stress=${STRESS:-0}
realtime=${REALTIME:-0}
flood=${FLOOD:-}
[ -z "$flood" ] || command_seconds=0
# Real-time priorities: the node's frame path as its launch file's realtime:=true sets it, the body and
# the probe one below it.
node_priority=49
peer_priority=48
fifo=()
if [ "$realtime" = 1 ]; then
  if chrt -f "$peer_priority" true 2>/dev/null; then
    fifo=(chrt -f "$peer_priority")
  else
    echo "frame_path: SCHED_FIFO refused here (ulimit -r, CAP_SYS_NICE): body_sim and the probe run without it" >&2
  fi
fi
if [ "$stress" -gt 0 ] && ! command -v stress-ng >/dev/null; then
  echo "frame_path: stress-ng is missing (make setup installs it)" >&2
  exit 2
fi
for program in body_sim tavo_node frame_path_probe wake_latency; do
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
[ "$realtime" = 1 ] && params+=("_realtime_priority:=$node_priority" _lock_memory:=true)
read -ra node_args <<<"${NODE_ARGS:-}"
start "$run_dir/node.out" "$bin/tavo_node" "${params[@]}" "${node_args[@]}"
node=$started
start "$run_dir/probe.out" "${fifo[@]}" "$bin/frame_path_probe" "$command_seconds"
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

# memory_while PID: tavo_node's resident memory every 5 s while PID runs.
memory_while() {
  local start_s=$SECONDS
  while kill -0 "$1" 2>/dev/null; do
    echo "tavo_node resident memory at $((SECONDS - start_s)) s: $(memory_kb "$node" VmRSS) kB"
    sleep 5
  done
}

rates=${flood:-1}
echo "frame path: kestrel at ${rates} x the design rates for ${duration} s (idle ${idle} s first), virtual bus" \
  "(STRESS=${stress} REALTIME=${realtime}); load average $(cut -d' ' -f1-3 /proc/loadavg)"
grep -h 'real-time mode\|refused' "$run_dir/node.out" "$run_dir/stderr.log" 2>/dev/null || true
measure_cpu "idle (no frames)" idle sleep "$idle"
if [ "$stress" -gt 0 ]; then
  # Until the probe is done; the time-out only bounds a run that went wrong.
  hog_seconds=$(awk -v d="$duration" -v c="$command_seconds" 'BEGIN { printf "%d", d + 4 * c + 60 }')
  start /dev/null stress-ng --cpu "$stress" --timeout "${hog_seconds}s" --quiet
  hogs=$started
fi
start "$run_dir/sim.out" "${fifo[@]}" "$bin/body_sim" --product kestrel --duration "$duration" --rate-scale "$rates"
sim=$started
if chrt -f 99 true 2>/dev/null; then
  start "$run_dir/wake.out" chrt -f 99 "$bin/wake_latency" "$duration"
  wake_label="machine, a 1 ms sleeper at SCHED_FIFO 99:"
else
  start "$run_dir/wake.out" "$bin/wake_latency" "$duration"
  wake_label="machine, a 1 ms sleeper (SCHED_FIFO refused):"
fi
if [ -n "$flood" ]; then
  memory_while "$sim" &
  sampler=$!
fi
faults_before=$(major_faults "$node")
measure_cpu "under load (~$(awk -v r="$rates" 'BEGIN { print 2950 * r }') frames/s)" load wait "$sim"
echo "tavo_node major page faults under load: $(($(major_faults "$node") - faults_before))"
echo "$wake_label $(cat "$run_dir/wake.out")"
[ -z "${sampler:-}" ] || wait "$sampler"

grep '^body_sim sent per stream' "$run_dir/sim.out" || true
wait "$probe" || true
[ -z "${hogs:-}" ] || kill -INT -- "-$hogs" 2>/dev/null || true
grep -v '^ready' "$run_dir/probe.out"
print_thread_table
echo "tavo_node peak resident memory: $(memory_kb "$node" VmHWM) kB"
if [ -s "$run_dir/stderr.log" ]; then
  echo "stderr of the programs (first lines):"
  head -5 "$run_dir/stderr.log"
fi
