#!/usr/bin/env bash
# Firmware transfer throughput: mcu_updater sends a 262144-byte image to
# mcu_sim on a private virtual bus. Prints bytes and packs per second of the
# data phase, retransmissions and the updater's CPU share.
# Usage: ota_transfer.sh <build dir>
set -euo pipefail
export PATH=/usr/bin:/bin:$PATH
build=$(cd "${1:?build directory}" && pwd)
bin="$build/devel/lib/tavo_hal"
size=262144
packs=$(((size + 31) / 32))

# shellcheck source=SCRIPTDIR/../scripts/lib/processes.sh
source "$(dirname "$0")/../scripts/lib/processes.sh"
work=$(mktemp -d /tmp/ota_bench.XXXXXX)
cleanup() {
  stop_started
  rm -rf "$work"
}
trap cleanup EXIT
mkdir "$work/bus"
export TAVO_VIRTUAL_CAN_DIR="$work/bus"
head -c "$size" /dev/urandom >"$work/image.bin"

now() { date +%s.%N; }
await_line() {  # file, text, seconds
  wait_for_line "$@" && return 0
  echo "ota_transfer: no '$2' in $1 after $3 s" >&2
  cat "$1" >&2
  exit 1
}

start_program "$work/sim.log" "$work/sim.log" "$bin/mcu_sim" --id 291 --image "$work/written.bin"
await_line "$work/sim.log" "mcu_sim: listening" 10

start=$(now)
start_program "$work/updater.log" "$work/updater.log" "$bin/mcu_updater" "$work/image.bin" 291
updater_pid=$started
await_line "$work/updater.log" "distribute_ota_package" 60
data_start=$(now)
await_line "$work/updater.log" "SUCCESS: ota success" 600
end=$(now)
read -r utime stime < <(cpu_user_system_ticks "$updater_pid")

cmp -s "$work/image.bin" "$work/written.bin" || { echo "ota_transfer: image written by mcu_sim differs" >&2; exit 1; }
again=$(sed -n 's/.* \([0-9]*\) received again.*/\1/p' "$work/sim.log" | tail -1)
resend_requests=$(grep -c "got resend flag" "$work/updater.log" || true)
attempts=$(grep -c "try OTA from #" "$work/updater.log")
ticks=$(getconf CLK_TCK)

awk -v size="$size" -v packs="$packs" -v t0="$start" -v t1="$data_start" -v t2="$end" \
    -v ut="$utime" -v st="$stime" -v hz="$ticks" -v again="${again:-0}" -v resend="$resend_requests" \
    -v attempts="$attempts" 'BEGIN {
  data = t2 - t1; total = t2 - t0
  printf "image                  %d bytes, %d packs of 32 bytes, %d attempt(s)\n", size, packs, attempts
  printf "whole update           %.2f s (handshakes, update-mode requests and the 500 ms pause included)\n", total
  printf "data phase             %.2f s\n", data
  printf "throughput             %.0f bytes/s, %.0f packs/s\n", size / data, packs / data
  printf "round trip per pack    %.0f us (one pack in flight: throughput = 32 bytes / round trip)\n", data / packs * 1e6
  printf "retransmissions        %d (packs mcu_sim took twice), %d resend requests\n", again, resend
  printf "updater CPU            %.2f s user + %.2f s sys over %.2f s wall = %.0f %% of one core\n", \
         ut / hz, st / hz, total, 100 * (ut + st) / hz / total
}'
