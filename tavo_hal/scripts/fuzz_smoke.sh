#!/usr/bin/env bash
# Runs every fuzz target for a bounded time from the seed corpus (copied, so
# the repository's corpus stays as committed). Fails on any crash.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${FUZZ_SECONDS:-30}
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d /tmp/tavo_fuzz.XXXXXX)
trap 'rm -rf "$work"' EXIT
status=0
for target in fuzz_feedback fuzz_commands fuzz_update_unpacker; do
  mkdir -p "$work/$target"
  cp "$root/tavo_hal/test/fuzz/corpus/$target/"* "$work/$target/"
  echo "== $target (${seconds} s)"
  if "$root/$build/$target" -max_total_time="$seconds" -max_len=600 -artifact_prefix="$work/" \
      "$work/$target" > "$work/$target.log" 2>&1; then
    grep -E '^Done' "$work/$target.log" || true
  else
    echo "$target FAILED:"; grep -A30 -E 'ERROR|runtime error|deadly signal' "$work/$target.log" | head -60
    ls "$work"/crash-* "$work"/leak-* "$work"/timeout-* 2>/dev/null || true
    status=1
  fi
done
exit $status
