#!/usr/bin/env bash
# Runs every benchmark of a build: the Google Benchmark binaries, then the
# scripted benchmarks tavo_hal/bench/*.sh (each given the build directory).
set -euo pipefail
export PATH=/usr/bin:/bin:$PATH
build=${1:-build-release}
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
for bin in "$build"/devel/lib/tavo_hal/bench/*; do
  [ -x "$bin" ] || continue
  echo "== $(basename "$bin")"
  "$bin" --benchmark_min_time=0.2
done
for script in tavo_hal/bench/*.sh; do
  [ -e "$script" ] || continue
  echo "== $(basename "$script")"
  bash "$script" "$build"
done
