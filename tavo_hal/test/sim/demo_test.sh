#!/usr/bin/env bash
# `make demo DURATION=10` against this build: the demo exits 0, shows the
# feedback and the left arm's move, and leaves no program of its run behind.
# Usage: demo_test.sh REPO_ROOT BUILD_DIR
set -uo pipefail
root=$1
build=$2
out=$(mktemp /tmp/tavo_demo_test.XXXXXX)
trap 'rm -f "$out"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

timeout -s INT 60 "$root/tavo_hal/scripts/demo.sh" "$build" 10 >"$out" 2>&1
status=$?
cat "$out"
[ "$status" -eq 0 ] || fail "demo exited with status $status"

log=$(sed -n 's/^demo: program output goes to //p' "$out")
[ -f "$log" ] || fail "the demo named no log file"
port=$(sed -n 's|^demo: product .*, ROS master http://127.0.0.1:\([0-9]*\),.*|\1|p' "$out")
mapfile -t started < <(sed -n 's/^demo: started \([a-z_]*\) pid \([0-9]*\)$/\1 \2/p' "$log")
[ "${#started[@]}" -eq 4 ] || fail "expected 4 started programs in $log, found ${#started[@]}"
for entry in "${started[@]}"; do
  read -r name pid <<<"$entry"
  # Each program led its own session: nothing of it may be left.
  left=$(pgrep -s "$pid" || true)
  [ -z "$left" ] || fail "$name (session $pid) left running: $left"
done
[ -z "$(pgrep -f "rosmaster --core -p $port" || true)" ] || fail "rosmaster on port $port left running"

grep -Eq '^/tavo/feedback_arm_left +[1-9][0-9]* Hz' "$out" || fail "no left arm feedback in the view"
grep -Eq '^/tavo/bms +[1-9] Hz' "$out" || fail "no battery feedback in the view"
grep -q '^>>> sent /tavo/control_arm_left' "$out" || fail "the command was not sent"
grep -Eq '^/tavo/feedback_arm_left .* left_arm position 1\.900 ' "$out" || fail "the move does not show in the feedback"
rm -f "$log"
rmdir "$(dirname "$log")" 2>/dev/null || true
echo "demo test passed"
