#!/usr/bin/env bash
# Fills an arm64 sysroot with Debian's arm64 ROS, Boost and GoogleTest -dev
# packages for the cross build. Installing them into the host through multiarch
# is not possible without breaking it (libroscpp-dev:arm64 needs python3:arm64,
# which would replace the host's python3), so apt resolves them as for an arm64
# machine, downloads them, and they are unpacked into SYSROOT instead. The C
# and C++ runtime comes from the cross toolchain, not from here.
# Usage: arm64_sysroot.sh SYSROOT    (debs are kept in SYSROOT.debs for the next run)
set -euo pipefail
export PATH=/usr/bin:/bin:/usr/sbin:/sbin:$PATH
sysroot=${1:?usage: arm64_sysroot.sh SYSROOT}
debs=$sysroot.debs
# ros-std-msgs: the message definitions tavo_msg is generated from.
wanted=(libroscpp-dev libstd-msgs-dev ros-std-msgs libsensor-msgs-dev libdiagnostic-msgs-dev libdiagnostic-updater-dev
  libboost-dev libconcurrentqueue-dev libgtest-dev libgmock-dev)
# What the cross toolchain already has, and programs no build links against.
not_unpacked='^(libc6|libc6-dev|libc-dev-bin|linux-libc-dev|libcrypt-dev|libgcc-s1|libgcc-12-dev|libstdc\+\+6|libstdc\+\+-12-dev|gcc-12-base|libasan8|libatomic1|libgomp1|libitm1|liblsan0|libtsan2|libubsan1|libhwasan0|libnsl-dev|libtirpc-dev|rpcsvc-proto|libpython3.*|python3.*|dpkg|tar|media-types|readline-common|icu-devtools|libtirpc-common)$'

stamp=$sysroot/.packages
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "${wanted[*]} $not_unpacked" ]; then
  echo "arm64 sysroot: up to date ($sysroot)"
  exit 0
fi

# apt as on an arm64 machine with nothing installed: the whole dependency closure.
mkdir -p "$debs"
empty_status=$(mktemp)
trap 'rm -f "$empty_status"' EXIT
apt_arm64=(-o Dir::State::status="$empty_status" -o APT::Architecture=arm64 -o APT::Architectures::=arm64
  -o Debug::NoLocking=1)
mapfile -t closure < <(apt-get install -s --no-install-recommends "${apt_arm64[@]}" "${wanted[@]}" |
  sed -nE 's/^Inst ([^ ]+) \(([^ ]+) .*\[([a-z0-9]+)\]\).*/\1 \2 \3/p')
[ ${#closure[@]} -gt 0 ] || { echo "arm64 sysroot: apt resolved nothing (is arm64 added and apt-get update run?)" >&2; exit 1; }

to_fetch=()
to_unpack=()
for entry in "${closure[@]}"; do
  read -r name version arch <<<"$entry"
  [[ $name =~ $not_unpacked ]] && continue
  file="${name}_${version/:/%3a}_${arch}.deb"   # apt-get download writes an epoch as %3a
  to_unpack+=("$debs/$file")
  [ -f "$debs/$file" ] && continue
  if [ "$arch" = all ]; then to_fetch+=("$name=$version"); else to_fetch+=("$name:$arch=$version"); fi
done
if [ ${#to_fetch[@]} -gt 0 ]; then
  echo "arm64 sysroot: downloading ${#to_fetch[@]} packages"
  (cd "$debs" && apt-get download -q -o APT::Sandbox::User=root "${to_fetch[@]}")
fi

rm -rf "$sysroot"
mkdir -p "$sysroot"
for deb in "${to_unpack[@]}"; do
  dpkg-deb -x "$deb" "$sysroot"
done
# Absolute links (libexpat.so -> /lib/...) point into the sysroot instead.
while IFS= read -r link; do
  ln -sfn "$sysroot$(readlink "$link")" "$link"
done < <(find "$sysroot" -type l -lname '/*')
echo "${wanted[*]} $not_unpacked" >"$stamp"
echo "arm64 sysroot: ${#to_unpack[@]} packages unpacked into $sysroot"
