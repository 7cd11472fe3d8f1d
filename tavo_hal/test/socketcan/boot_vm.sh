#!/usr/bin/env bash
# Real-kernel CAN tier: boots Debian's kernel under QEMU (software emulation),
# loads the CAN modules, mounts this machine's root read-only over 9p, creates
# the CAN-FD vcan devices can0 and vcan0 and runs scenarios.sh inside with
# chroot. Results come back through a second, writable 9p share.
#
#   boot_vm.sh BUILD_DIR
#
# Environment: SCENARIOS (names to run, default all), STRESS_TRANSFERS (length
# of the updater stress run), GTEST_FILTER, GTEST_REPEAT, VM_TIMEOUT (seconds, default 1200).
# Exits 0 only when every scenario passed. QEMU is killed on every exit path.
set -euo pipefail
export PATH=/usr/bin:/bin:/usr/sbin:/sbin:$PATH

# All in one function: bash has read it whole before it runs, so editing this file meanwhile is safe.
main() {

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: boot_vm.sh BUILD_DIR}" && pwd)
vm_dir=$build/socketcan-vm
results=$vm_dir/results
vm_timeout=${VM_TIMEOUT:-1200}
# Loaded in this order: virtio and 9p for the shares, then CAN, raw sockets and vcan.
modules=(virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci 9pnet 9pnet_virtio netfs fscache 9p
  can can-raw can-dev vcan)

say() { echo "socketcan: $*"; }
mkdir -p "$vm_dir"

# Debian's kernel package, unpacked into the build tree (nothing is installed on this machine).
kernel_dir=$vm_dir/kernel
kernel_package() { apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}'; }
fetch_kernel() {
  local package
  package=$(kernel_package)
  [ -n "$package" ] || return 1
  say "fetching $package"
  rm -f "$vm_dir"/linux-image-*.deb
  (cd "$vm_dir" && apt-get download "$package" 2>&1 | grep -v '^W: Download is performed unsandboxed') || true
  compgen -G "$vm_dir/linux-image-*.deb" >/dev/null
}
kernel_complete() {
  compgen -G "$kernel_dir/boot/vmlinuz-*" >/dev/null || return 1
  for m in "${modules[@]}"; do [ -f "$kernel_dir/modules/$m.ko" ] || return 1; done
}
if ! kernel_complete; then
  # Package lists may be missing or stale on a machine where every package was already installed.
  fetch_kernel || { apt-get update >/dev/null && fetch_kernel; } || { say "cannot fetch Debian's kernel package"; exit 1; }
  rm -rf "$kernel_dir" "$vm_dir/unpacked"
  dpkg-deb -x "$vm_dir"/linux-image-*.deb "$vm_dir/unpacked"
  # Only the kernel and the modules the VM loads are kept (the package unpacks to 400 MB).
  mkdir -p "$kernel_dir.partial/boot" "$kernel_dir.partial/modules"
  cp "$vm_dir"/unpacked/boot/vmlinuz-* "$kernel_dir.partial/boot/"
  for m in "${modules[@]}"; do
    ko=$(find "$vm_dir/unpacked/lib/modules" -name "$m.ko" | head -1)
    [ -n "$ko" ] || { say "module $m.ko missing in the kernel package"; exit 1; }
    cp "$ko" "$kernel_dir.partial/modules/"
  done
  mv "$kernel_dir.partial" "$kernel_dir"
  rm -rf "$vm_dir/unpacked" "$vm_dir"/linux-image-*.deb
fi
vmlinuz=$(compgen -G "$kernel_dir/boot/vmlinuz-*" | head -1)

# The initramfs: busybox, the modules and an init that hands over to scenarios.sh.
initrd_dir=$vm_dir/initramfs
rm -rf "$initrd_dir"
mkdir -p "$initrd_dir"/{bin,dev,proc,sys,results,host,modules}
cp /usr/bin/busybox "$initrd_dir/bin/busybox"
for m in "${modules[@]}"; do cp "$kernel_dir/modules/$m.ko" "$initrd_dir/modules/"; done
echo "${modules[*]}" >"$initrd_dir/modules/order"
cat >"$initrd_dir/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for m in $(cat /modules/order); do insmod /modules/$m.ko || echo "init: insmod $m failed"; done
share="trans=virtio,version=9p2000.L,msize=512000"
mount -t 9p -o "$share" results /results || { echo "init: no results share"; poweroff -f; }
. /results/vm.env
r=/host
mount -t 9p -o "$share,cache=loose,ro" host $r || { echo "init: no host share" >/results/init.failed; poweroff -f; }
mount -t proc proc $r/proc
mount -t sysfs sys $r/sys
mount -t devtmpfs dev $r/dev
mkdir -p $r/dev/shm 2>/dev/null; mount -t tmpfs shm $r/dev/shm
# The guest gets a /tmp of its own; a checkout or build under the host's /tmp stays visible through it.
n=0; for d in $TAVO_KEEP; do case $d in /tmp/*) n=$((n+1)); mkdir -p /keep/$n; mount --bind $r$d /keep/$n ;; esac; done
mount -t tmpfs tmp $r/tmp
n=0; for d in $TAVO_KEEP; do case $d in /tmp/*) n=$((n+1)); mkdir -p $r$d; mount --bind /keep/$n $r$d ;; esac; done
mount -t tmpfs run $r/run
mount --bind /results $r$TAVO_RESULTS
chroot $r /bin/bash "$TAVO_SCENARIOS_SCRIPT" "$TAVO_BUILD" "$TAVO_RESULTS"
sync
poweroff -f
EOF
chmod +x "$initrd_dir/init"
(cd "$initrd_dir" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1 >"$vm_dir/initramfs.gz")

rm -rf "$results"
mkdir -p "$results"
{
  echo "TAVO_RESULTS=$results"
  echo "TAVO_BUILD=$build"
  echo "TAVO_SCENARIOS_SCRIPT=$here/scenarios.sh"
  echo "TAVO_KEEP='$(cd "$here/../../.." && pwd) $build'"
  printf 'export SCENARIOS=%q STRESS_TRANSFERS=%q GTEST_FILTER=%q GTEST_REPEAT=%q\n' "${SCENARIOS:-}" \
    "${STRESS_TRANSFERS:-}" "${GTEST_FILTER:-*}" "${GTEST_REPEAT:-1}"
} >"$results/vm.env"

console=$vm_dir/console.log
: >"$console"
qemu_pid=
tail_pid=
# Every exit path, Ctrl+C of make included, ends QEMU and the console follower.
cleanup() {
  # timeout leads a process group of its own (so Ctrl+C does not reach QEMU): kill the whole group.
  if [ -n "$qemu_pid" ]; then
    kill -KILL -- "-$qemu_pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 -- "-$qemu_pid" 2>/dev/null || break; sleep 0.1; done
  fi
  [ -n "$tail_pid" ] && kill "$tail_pid" 2>/dev/null
  wait 2>/dev/null || true
}
trap cleanup EXIT
trap 'say "interrupted"; exit 130' INT TERM

say "booting $(basename "$vmlinuz") (timeout ${vm_timeout} s, console in $console)"
start=$SECONDS
timeout -s KILL "$vm_timeout" qemu-system-x86_64 -accel tcg -cpu max -smp 2 -m 2048 -nodefaults -no-user-config \
  -display none -monitor none -serial "file:$console" -no-reboot \
  -kernel "$vmlinuz" -initrd "$vm_dir/initramfs.gz" -append "console=ttyS0 quiet panic=-1" \
  -virtfs local,path=/,mount_tag=host,security_model=none,multidevs=remap,readonly=on \
  -virtfs "local,path=$results,mount_tag=results,security_model=none" </dev/null &
qemu_pid=$!
tail -n +1 -F --pid="$qemu_pid" "$console" 2>/dev/null | sed -u 's/^/  vm| /' &
tail_pid=$!
vm_status=0
wait "$qemu_pid" || vm_status=$?
qemu_pid=
sleep 0.2
say "VM ran $((SECONDS - start)) s"

if [ ! -f "$results/summary.txt" ] || ! grep -q '^done' "$results/summary.txt"; then
  [ "$vm_status" -eq 137 ] && say "VM killed after ${vm_timeout} s"
  say "the scenarios did not finish (QEMU status $vm_status); console: $console"
  [ -f "$results/summary.txt" ] && cat "$results/summary.txt"
  exit 1
fi
passed=$(grep -c '^PASS' "$results/summary.txt" || true)
failed=$(grep -c '^FAIL' "$results/summary.txt" || true)
grep -E '^(PASS|FAIL)' "$results/summary.txt" | sed 's/^/  /'
for log in $(awk '$1 == "FAIL" {print $2}' "$results/summary.txt"); do
  say "--- end of $log.log"
  tail -n 40 "$results/$log.log" 2>/dev/null | sed 's/^/  /'
done
say "logs in $results"
echo "socketcan: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
}

main "$@"
