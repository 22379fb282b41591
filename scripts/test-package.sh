#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the Debian package (release build, build/release), checks it with lintian and tests it
# as a user gets it: installed with apt into a clean Debian 12 root (mmdebstrap, chroot), where
# the installed programs run a nozzle check on the virtual printer, the manual pages are found,
# the bash completion completes, and the package is purged again without leftovers.
# The root is kept as build/package-test/debian12.tar and the downloaded packages in
# build/package-test/apt-archives, so later runs download almost nothing
# (HEADALIGN_PACKAGE_ROOT_REFRESH=1 makes the root again). Exits non-zero on any failure.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
start=$SECONDS
phase_start=$SECONDS
phase() {
  echo "package-test: $1 ($((SECONDS - phase_start)) s)"
  phase_start=$SECONDS
}
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

"$top/scripts/setup.sh"
build="$top/build/release"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHEADALIGN_TESTS=OFF \
  -DHEADALIGN_UDEV_RULES_DIR= >/dev/null
cmake --build "$build" -j"$(nproc)" --target package >"$build/package.log" 2>&1 || {
  tail -n 30 "$build/package.log"
  exit 1
}
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
deb="$(ls -t "$build"/headalign_"$version"_*.deb | head -n 1)"
echo "package-test: built $deb"
phase "release build and package"

# lintian: errors fail the test; warnings and the rest are shown.
lintian_out="$(lintian --pedantic --display-info --fail-on error "$deb" 2>&1)" || {
  echo "$lintian_out"
  echo "package-test: lintian reports errors" >&2
  exit 1
}
grep -vE '^(N:|running with root privileges)' <<<"$lintian_out" || true
phase "lintian"

cache="$top/build/package-test"
mkdir -p "$cache/apt-archives"
tarball="$cache/debian12.tar"
mirror="${HEADALIGN_DEBIAN_MIRROR:-http://deb.debian.org/debian}"
security="${HEADALIGN_DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security}"
if [[ ! -f $tarball || ! -s $tarball || "${HEADALIGN_PACKAGE_ROOT_REFRESH:-0}" == 1 ]]; then
  rm -f "$tarball"
  "${sudo_cmd[@]}" mmdebstrap --quiet --mode=root --format=tar --variant=apt --include=man-db,bash-completion \
    bookworm "$tarball.part" "deb $mirror bookworm main" "deb $mirror bookworm-updates main" \
    "deb $security bookworm-security main"
  mv "$tarball.part" "$tarball"
  phase "Debian 12 root made ($(du -h "$tarball" | cut -f1))"
fi

root="$(mktemp -d "$cache/root.XXXXXX")"
mounts=()
cleanup() {
  local i
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do "${sudo_cmd[@]}" umount -l "${mounts[i]}" 2>/dev/null || true; done
  mounts=()
  "${sudo_cmd[@]}" rm -rf --one-file-system "$root"
}
trap cleanup EXIT
# The root lives in memory where it may (about 700 MB): unpacking is quicker and removal is free.
if "${sudo_cmd[@]}" mount -t tmpfs -o size=3g,mode=755 headalign-package-test "$root" 2>/dev/null; then
  mounts+=("$root")
fi
in_root() { "${sudo_cmd[@]}" chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
  LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"; }
"${sudo_cmd[@]}" tar -C "$root" -xf "$tarball"
if "${sudo_cmd[@]}" chroot "$root" /bin/true 2>/dev/null; then
  for m in proc sys dev; do
    "${sudo_cmd[@]}" mount --rbind "/$m" "$root/$m"
    "${sudo_cmd[@]}" mount --make-rslave "$root/$m"
    mounts+=("$root/$m")
  done
  "${sudo_cmd[@]}" mount --bind "$cache/apt-archives" "$root/var/cache/apt/archives"
  mounts+=("$root/var/cache/apt/archives")
  "${sudo_cmd[@]}" cp /etc/resolv.conf "$root/etc/resolv.conf"
  # The root is thrown away afterwards: dpkg need not sync every file it unpacks.
  echo force-unsafe-io | "${sudo_cmd[@]}" tee "$root/etc/dpkg/dpkg.cfg.d/unsafe-io" >/dev/null
  "${sudo_cmd[@]}" cp "$deb" "$top/scripts/package-checks.sh" "$root/tmp/"
  phase "root unpacked"
  in_root apt-get update -qq
  in_root apt-get install -y -qq "/tmp/$(basename "$deb")" >"$cache/install.log" 2>&1 || {
    tail -n 30 "$cache/install.log"
    exit 1
  }
  phase "installed with apt-get install ./$(basename "$deb") ($(grep -c '^Setting up' "$cache/install.log") packages)"
  in_root bash /tmp/package-checks.sh installed "$version"
  in_root apt-get purge -y -qq headalign >/dev/null
  in_root bash /tmp/package-checks.sh purged
else
  # No chroot here: install into this machine and remove it again.
  echo "package-test: chroot is not possible here; installing on this machine"
  trap - EXIT
  cleanup
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null
  status=0
  "$top/scripts/package-checks.sh" installed "$version" || status=$?
  "${sudo_cmd[@]}" apt-get purge -y -qq headalign >/dev/null
  "$top/scripts/package-checks.sh" purged || status=1
  [[ $status -eq 0 ]] || exit $status
fi
phase "installed package checked and purged"
cleanup
trap - EXIT
echo "package-test: passed in $((SECONDS - start)) s; the package is $deb"
