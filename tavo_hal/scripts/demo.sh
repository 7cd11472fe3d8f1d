#!/usr/bin/env bash
# The demo: a private ROS master on a free loopback port, body_sim and tavo_node
# on a private virtual bus, and demo_view showing every feedback topic's rate
# and a sample once a second. After 3 s the left arm gets a new position.
# Usage: demo.sh BUILD_DIR [DURATION]   (DURATION 0: until Ctrl+C; PRODUCT=osprey by default)
set -euo pipefail
export PATH=/usr/bin:/bin:$PATH
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-build}
[[ $build = /* ]] || build=$root/$build
duration=${2:-0}
product=${PRODUCT:-osprey}
bin=$build/devel/lib/tavo_hal
config=$root/tavo_hal/config/$product.yaml

if ! [[ $duration =~ ^[0-9]+$ ]]; then
  echo "demo: DURATION must be whole seconds, 0 for until Ctrl+C (got '$duration')" >&2
  exit 2
fi
[ -f "$config" ] || { echo "demo: no configuration for product '$product' ($config)" >&2; exit 2; }
for program in body_sim tavo_node demo_view; do
  [ -x "$bin/$program" ] || { echo "demo: $bin/$program is missing; run make build first" >&2; exit 2; }
done

run_dir=$(mktemp -d /tmp/tavo_demo.XXXXXX)
log=$run_dir/demo.log
pids=()

# Every program runs in its own process group, stopped with SIGINT, then SIGKILL.
stop_all() {
  trap - EXIT INT TERM
  local pid
  # Our programs end cleanly on SIGINT; the ROS master (first) is quicker with SIGTERM.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill -"$([ "$i" -eq 0 ] && echo TERM || echo INT)" -- "-${pids[i]}" 2>/dev/null || true
  done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL -- "-$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$run_dir/bus"
  echo "demo: stopped; program output is in $log"
}
trap 'stop_all; exit 0' INT TERM
trap stop_all EXIT

start() {  # start NAME PROGRAM ARGS...: output to the log
  local name=$1
  shift
  setsid "$@" >>"$log" 2>&1 </dev/null &
  pids+=($!)
  echo "demo: started $name pid $!" >>"$log"
}

free_port() {
  local port
  for _ in $(seq 100); do
    port=$((20000 + RANDOM % 40000))
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
  done
  echo "demo: no free loopback port found" >&2
  exit 1
}

# tavo_node's private parameters from the product's YAML, as _name:=value arguments.
node_params() {
  sed -n 's/^\([a-z_]*\): *"\{0,1\}\([^"]*\)"\{0,1\} *$/_\1:=\2/p' "$config"
}

port=$(free_port)
export ROS_MASTER_URI=http://127.0.0.1:$port ROS_IP=127.0.0.1 TAVO_VIRTUAL_CAN_DIR=$run_dir/bus
unset ROS_HOSTNAME
mkdir -p "$TAVO_VIRTUAL_CAN_DIR"
echo "demo: product $product, ROS master $ROS_MASTER_URI, virtual bus $TAVO_VIRTUAL_CAN_DIR"
echo "demo: program output goes to $log"

start rosmaster rosmaster --core -p "$port"
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
mapfile -t params < <(node_params)
start tavo_node "$bin/tavo_node" "${params[@]}"
start body_sim "$bin/body_sim" --product "$product"
# In the foreground, so that Ctrl+C reaches it; the trap then stops the rest.
(
  echo "demo: started demo_view pid $BASHPID" >>"$log"
  exec "$bin/demo_view" --duration "$duration" --command-after 3 2>>"$log"
)
