#!/usr/bin/env bash
# robot_state_publisher for the URDF file named first on the command line (launch/ros_tools.launch): loads the
# file into robot_description in this node's namespace, then becomes Debian's robot_state_publisher with the rest
# of the arguments (roslaunch's). A file that cannot be read costs one line; the body node runs on without /tf.
set -u
urdf=${1:-}
shift || true
if [ ! -f "$urdf" ] || [ ! -r "$urdf" ]; then
  echo "tavo_state_publisher: cannot read the URDF file '$urdf': no robot_description and no /tf" >&2
  exit 1
fi
/usr/bin/rosparam set --textfile="$urdf" robot_description || exit 1
exec /usr/lib/robot_state_publisher/robot_state_publisher "$@"
