# Process handling for the demo, soak and benchmark scripts, sourced by them:
# every program runs in its own process group and is stopped with its whole
# group, a private ROS master runs on a free loopback port, and CPU time and
# memory figures come from /proc. The scripts run with `set -euo pipefail`.
# shellcheck shell=bash

# Pids of the started programs in start order, the signal that ends each one,
# and the pid of the one started last.
started_pids=()
declare -A stop_signal_of=()
started=

# start_program OUT ERR PROGRAM ARGS...: PROGRAM in its own process group, output appended to OUT and ERR; its pid in $started.
start_program() {
  local out=$1 err=$2
  shift 2
  setsid "$@" >>"$out" 2>>"$err" </dev/null &
  started=$!
  started_pids+=("$started")
  stop_signal_of[$started]=INT
}

# wait_until_gone PID: true once PID has ended, false while it still runs after 5 s.
wait_until_gone() {
  for _ in $(seq 50); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.1
  done
  return 1
}

# stop_started [NAME]: stops every started group, the last started first; SIGKILL for what still runs
# after 5 s (with NAME, each program killed that way is reported on stderr as "NAME: ...").
stop_started() {
  local i pid
  for ((i = ${#started_pids[@]} - 1; i >= 0; i--)); do
    pid=${started_pids[i]}
    kill -"${stop_signal_of[$pid]}" -- "-$pid" 2>/dev/null || true
  done
  for pid in "${started_pids[@]}"; do
    if ! wait_until_gone "$pid" && [ -n "${1:-}" ]; then
      echo "$1: $(cat "/proc/$pid/comm" 2>/dev/null) did not stop on SIG${stop_signal_of[$pid]}; killed" >&2
    fi
    kill -KILL -- "-$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
}

# stop_and_wait PID: SIGINT to PID alone, then its exit status within 5 s (124 when it did not end).
stop_and_wait() {
  kill -INT "$1" 2>/dev/null || true
  wait_until_gone "$1" || return 124
  local status=0
  wait "$1" || status=$?
  return "$status"
}

# wait_for_line FILE PATTERN SECONDS: true once a line of FILE matches PATTERN (grep), false after SECONDS.
wait_for_line() {
  local deadline=$((SECONDS + $3))
  until grep -q -- "$2" "$1" 2>/dev/null; do
    ((SECONDS < deadline)) || return 1
    sleep 0.01
  done
}

# port_in_use PORT: true when something accepts TCP connections on 127.0.0.1:PORT.
port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# free_loopback_port: prints a port nothing listens on at 127.0.0.1; fails when 100 tries found none.
free_loopback_port() {
  local port
  for _ in $(seq 100); do
    port=$((20000 + RANDOM % 40000))
    port_in_use "$port" || {
      echo "$port"
      return 0
    }
  done
  return 1
}

# use_private_ros_and_bus RUN_DIR: picks a free loopback port for a private ROS master ($port) and
# points the programs this script starts at it and at a virtual bus in RUN_DIR/bus; fails without a port.
use_private_ros_and_bus() {
  port=$(free_loopback_port) || return 1
  export ROS_MASTER_URI=http://127.0.0.1:$port ROS_IP=127.0.0.1 TAVO_VIRTUAL_CAN_DIR=$1/bus
  unset ROS_HOSTNAME
  mkdir -p "$TAVO_VIRTUAL_CAN_DIR"
}

# start_ros_master PORT OUT ERR: a private rosmaster (stopped with SIGTERM, which it obeys quicker
# than SIGINT); returns once PORT accepts connections, or after 10 s.
start_ros_master() {
  start_program "$2" "$3" rosmaster --core -p "$1"
  stop_signal_of[$started]=TERM
  for _ in $(seq 100); do
    port_in_use "$1" && break
    sleep 0.1
  done
}

# node_params CONFIG: a node's private parameters from a product's YAML file, one _name:=value a line (top-level
# names with a value; nested blocks such as joint_names are left to the node's defaults).
node_params() { sed -n 's/^\([a-z_]*\): *"\{0,1\}\([^" ][^"]*\)"\{0,1\} *$/_\1:=\2/p' "$1"; }

# cpu_user_system_ticks PID: the CPU time PID spent in user and in system mode, in clock ticks.
cpu_user_system_ticks() { awk '{print $14, $15}' "/proc/$1/stat"; }

# cpu_ticks PID: the CPU time PID spent in user plus system mode, in clock ticks.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# major_faults PID: page faults of PID that had to read from a file (code or data the kernel had dropped).
major_faults() { awk '{print $12}' "/proc/$1/stat"; }

# thread_cpu_ticks PID: one line per thread of PID, "TID NAME TICKS" (user plus system mode, in clock ticks;
# blanks in a thread name become underscores).
thread_cpu_ticks() {
  { cat /proc/"$1"/task/*/stat 2>/dev/null || true; } | awk '{
    lp = index($0, "("); rp = match($0, /\) [^)]*$/)
    name = substr($0, lp + 1, rp - lp - 1); gsub(/ /, "_", name)
    split(substr($0, rp + 2), field, " ")  # field[1] is the state (the third field of stat)
    print $1, name, field[12] + field[13]
  }'
}

# memory_kb PID FIELD: a memory figure of PID in kB from /proc/PID/status (VmRSS: resident now, VmHWM: peak).
memory_kb() { awk -v field="$2:" '$1 == field {print $2}' "/proc/$1/status"; }
