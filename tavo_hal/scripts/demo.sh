#!/usr/bin/env bash
# The demo: a private ROS master on a free loopback port, body_sim and tavo_node
# on a private virtual bus, and demo_view showing every feedback topic's rate
# and a sample once a second. After 3 s the left arm gets a new position.
# With REPLAY=FILE a bus log (can_record or candump -L) plays in a loop
# instead of body_sim, and no command is sent. With RVIZ=1 robot_state_publisher
# turns joint_states into /tf with the simulated body's URDF and RViz shows it.
# Usage: demo.sh BUILD_DIR [DURATION]   (DURATION 0: until Ctrl+C; PRODUCT=osprey by default)
# The programs come from BUILD_DIR/devel/lib/tavo_hal, or from TAVO_BIN_DIR when set (a catkin workspace keeps
# its devel space beside the build folder).
set -euo pipefail
export PATH=/usr/bin:/bin:$PATH
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-build}
[[ $build = /* ]] || build=$root/$build
duration=${2:-0}
product=${PRODUCT:-osprey}
replay=${REPLAY:-}
rviz=${RVIZ:-}
bin=${TAVO_BIN_DIR:-$build/devel/lib/tavo_hal}
config=$root/tavo_hal/config/$product.yaml

if ! [[ $duration =~ ^[0-9]+$ ]]; then
  echo "demo: DURATION must be whole seconds, 0 for until Ctrl+C (got '$duration')" >&2
  exit 2
fi
[ -f "$config" ] || { echo "demo: no configuration for product '$product' ($config)" >&2; exit 2; }
if [ -n "$replay" ]; then
  [ -r "$replay" ] || { echo "demo: cannot read the bus log REPLAY=$replay" >&2; exit 2; }
  replay=$(cd "$(dirname "$replay")" && pwd)/$(basename "$replay")
fi
programs=(body_sim can_replay tavo_node demo_view)
[ "$rviz" = 1 ] && programs+=(tavo_state_publisher)
for program in "${programs[@]}"; do
  [ -x "$bin/$program" ] || { echo "demo: $bin/$program is missing; run make build first" >&2; exit 2; }
done

# shellcheck source=SCRIPTDIR/lib/processes.sh
source "$root/tavo_hal/scripts/lib/processes.sh"
run_dir=$(mktemp -d /tmp/tavo_demo.XXXXXX)
log=$run_dir/demo.log

stop_all() {
  trap - EXIT INT TERM
  stop_started
  rm -rf "$run_dir/bus"
  echo "demo: stopped; program output is in $log"
}
trap 'stop_all; exit 0' INT TERM
trap stop_all EXIT

log_started() { echo "demo: started $1 pid $started" >>"$log"; }

use_private_ros_and_bus "$run_dir" || {
  echo "demo: no free loopback port found" >&2
  exit 1
}
echo "demo: product $product, ROS master $ROS_MASTER_URI, virtual bus $TAVO_VIRTUAL_CAN_DIR"
echo "demo: program output goes to $log"

start_ros_master "$port" "$log" "$log"
log_started rosmaster
mapfile -t params < <(node_params "$config")
start_program "$log" "$log" "$bin/tavo_node" "${params[@]}"
log_started tavo_node
command_after=3
if [ -n "$replay" ]; then
  echo "demo: replaying $replay in a loop instead of body_sim"
  start_program "$log" "$log" "$bin/can_replay" --loop "$replay"
  log_started can_replay
  command_after=0  # the recorded body answers no command
else
  start_program "$log" "$log" "$bin/body_sim" --product "$product"
  log_started body_sim
fi
if [ "$rviz" = 1 ]; then
  start_program "$log" "$log" "$bin/tavo_state_publisher" "$root/tavo_hal/config/simulated_body.urdf" \
    __name:=robot_state_publisher
  log_started robot_state_publisher
  start_program "$log" "$log" rviz -d "$root/tavo_hal/config/simulated_body.rviz"
  log_started rviz
  echo "demo: RViz shows the simulated body; the left arm moves when the command goes out"
fi
# In the foreground, so that Ctrl+C reaches it; the trap then stops the rest.
(
  echo "demo: started demo_view pid $BASHPID" >>"$log"
  exec "$bin/demo_view" --duration "$duration" --command-after "$command_after" 2>>"$log"
)
