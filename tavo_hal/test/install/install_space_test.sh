#!/usr/bin/env bash
# The install space on its own. Installs the built workspace under a temporary folder (DESTDIR: catkin installs
# its setup files to the configured prefix whatever --prefix says) and checks that it holds exactly the declared
# programs, every launch and configuration file, no path into the build tree, and libraries the programs find
# without help; builds and runs a downstream program against it; then, in an
# environment that has sourced nothing but the install space, runs `roslaunch tavo_hal demo.launch
# product:=osprey` on a private virtual bus and master until feedback arrives, and stops it with SIGINT.
# Usage: install_space_test.sh BUILD_DIR INSTALL_PREFIX PROGRAM,PROGRAM,... sanitize=[address|thread]
set -uo pipefail
build=$(cd "$1" && pwd)
IFS=, read -ra programs <<<"$3"
sanitize=${4#sanitize=}
root=$(cd "$(dirname "$0")/../../.." && pwd)
# shellcheck source=../../scripts/lib/processes.sh
source "$root/tavo_hal/scripts/lib/processes.sh"

work=$(mktemp -d /tmp/tavo_install_test.XXXXXX)
prefix=$work/root$2
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
finish() {
  stop_started install_space_test
  # roslaunch's nodes lead sessions of their own: end whatever of this run is left.
  for pid in $(pgrep -f "$prefix/|rosmaster --core -p ${port:-none} "); do
    kill -KILL "$pid" 2>/dev/null
  done
  rm -rf "$work"
}
trap finish EXIT

DESTDIR=$work/root cmake --install "$build" >"$work/install.log" 2>&1 || {
  cat "$work/install.log"
  echo "FAIL: cmake --install"
  exit 1
}

# Programs: exactly the declared ones, nothing a test uses.
mapfile -t installed < <(ls "$prefix/lib/tavo_hal")
mapfile -t declared < <(printf '%s\n' "${programs[@]}" | sort)
[ "${installed[*]}" = "${declared[*]}" ] ||
  fail "lib/tavo_hal holds '${installed[*]}', the declared programs are '${declared[*]}'"
for program in "${declared[@]}"; do
  [ -x "$prefix/lib/tavo_hal/$program" ] || fail "$program is not installed as a program"
done
for dir in launch config; do
  diff -r "$root/tavo_hal/$dir" "$prefix/share/tavo_hal/$dir" >/dev/null || fail "share/tavo_hal/$dir differs from $dir/"
done

# Nothing points into the build tree: no text file names it, no program or library searches it, and every
# library a program needs is found with no LD_LIBRARY_PATH.
leaks=$(grep -rlI -- "$build" "$prefix")
[ -z "$leaks" ] || fail "these files name the build tree: $leaks"
while IFS= read -r elf; do
  readelf -d "$elf" | grep -E 'RPATH|RUNPATH' | grep -q -- "$build" && fail "$elf searches the build tree for libraries"
  unresolved=$(env -u LD_LIBRARY_PATH ldd "$elf" | grep -E 'not found|'"$build")
  [ -z "$unresolved" ] || fail "$elf: $unresolved"
done < <(find "$prefix/lib" -type f \( -perm -u+x -o -name '*.so' \) -exec sh -c 'head -c4 "$1" | grep -q ELF' _ {} \; -print)

use_private_ros_and_bus "$work" || {
  echo "FAIL: no free loopback port"
  exit 1
}
mkdir -p "$work/home"
# An environment holding only the install space (and the sanitizers' settings of the test run), with SIGINT
# handled as by default: a program started in the background inherits it ignored, and Python keeps it so.
install_env=(env -i --default-signal=INT HOME="$work/home" PATH=/usr/bin:/bin ROS_HOME="$work/ros" ROS_MASTER_URI="$ROS_MASTER_URI"
  ROS_IP=127.0.0.1 TAVO_VIRTUAL_CAN_DIR="$TAVO_VIRTUAL_CAN_DIR" TSAN_OPTIONS="${TSAN_OPTIONS:-}"
  ASAN_OPTIONS="${ASAN_OPTIONS:-}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-}"
  bash -c 'source "$0/setup.bash" && exec "$@"' "$prefix")
in_install_space() { "${install_env[@]}" "$@"; }

found=$(in_install_space rospack find tavo_hal)
[ "$found" = "$prefix/share/tavo_hal" ] || fail "rospack finds tavo_hal at '$found', not in the install space"
in_install_space bash -c 'echo "$ROS_PACKAGE_PATH:$LD_LIBRARY_PATH:$CMAKE_PREFIX_PATH:$PATH"' | grep -q -- "$build" &&
  fail "the install space's setup puts the build tree on a path"

# A downstream package builds against the installed headers and libraries, and runs.
case $sanitize in
  address) flags="-fsanitize=address,undefined" ;;
  thread) flags="-fsanitize=thread" ;;
  *) flags="" ;;
esac
if in_install_space cmake -S "$root/tavo_hal/test/install/consumer" -B "$work/consumer" -DCMAKE_CXX_FLAGS="$flags" \
  -DPYTHON_EXECUTABLE=/usr/bin/python3 >"$work/consumer.log" 2>&1 &&
  in_install_space cmake --build "$work/consumer" >>"$work/consumer.log" 2>&1; then
  out=$(in_install_space "$work/consumer/consumer" 2>&1)
  echo "$out"
  grep -q '^consumer: queued frame 0x31 of ' <<<"$out" || fail "the downstream program did not queue the chassis frame"
else
  cat "$work/consumer.log"
  fail "a downstream package does not build against the install space"
fi

# The demo launch from the install space: the installed programs run and feedback arrives. roslaunch gives
# every node a session of its own; the install prefix in their command lines tells them apart.
log=$work/launch.log
start_program "$log" "$log" "${install_env[@]}" roslaunch -p "$port" tavo_hal demo.launch product:=osprey
launch=$started
for _ in $(seq 300); do
  port_in_use "$port" && break
  sleep 0.1
done
for topic in /tavo/feedback_arm_left /tavo/bms; do
  case $topic in
    /tavo/bms) pattern='^voltage: ' ;;
    *) pattern='^position: \[' ;;
  esac
  sample=$(in_install_space timeout 60 rostopic echo -n 1 "$topic" 2>&1)
  grep -q -- "$pattern" <<<"$sample" || fail "no message on $topic from the installed demo: $sample"
done
for program in tavo_node body_sim; do
  pgrep -f "^$prefix/lib/tavo_hal/$program" >/dev/null || fail "$program does not run from the install space"
done

# Ctrl+C ends the launch with status 0 and leaves nothing of it behind.
kill -INT "$launch"
for _ in $(seq 200); do
  kill -0 "$launch" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$launch" 2>/dev/null; then
  fail "roslaunch still runs 20 s after SIGINT"
else
  status=0
  wait "$launch" || status=$?
  [ "$status" -eq 0 ] || fail "roslaunch ended with status $status on SIGINT"
fi
left=$(pgrep -a -f "$prefix/|rosmaster --core -p $port ")
[ -z "$left" ] || fail "left running after the launch: $left"

if [ "$failures" -gt 0 ]; then
  echo "--- roslaunch output"
  cat "$log"
  echo "install space test: $failures failures"
  exit 1
fi
echo "install space test passed"
