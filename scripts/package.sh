#!/usr/bin/env bash
# Builds the Debian packages into <build>/packages: tavrion (the terminal and its device library),
# libqb7720dll1 and libqb7720dll-dev (the library and what building against it needs) and
# qb7720-emulator; then checks the desktop entry and runs lintian, failing on any error it reports.
#   BUILD_DIR   build directory to reuse (default build); it is configured for the /usr prefix
#   JOBS        parallel jobs (default: number of processors)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

tools=(lintian desktop-file-utils dpkg-dev file)
source scripts/lib/ensure-packages.sh
ensure_packages "${tools[@]}"

build=${BUILD_DIR:-build}
jobs=${JOBS:-$(nproc)}
out=$build/packages
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQB_WERROR=ON -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$build" -j"$jobs" --target tavrionapp QB7720lib QB7720DLL qb7720-emulator
rm -rf "$out"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! (cd "$build" && cpack -G DEB -B "$PWD/packages") >"$log" 2>&1; then
  cat "$log" >&2
  exit 1
fi
# Without the developer warning about the device library's missing SONAME: it is private on purpose.
sed '/CMake Warning (dev)/,/Use -Wno-dev/d' "$log"
rm -rf "$out/_CPack_Packages"

debs=("$out"/*.deb)
((${#debs[@]} == 4)) || { echo "package.sh: expected 4 packages in $out, found ${#debs[@]}" >&2; exit 1; }
desktop-file-validate packaging/tavrion.desktop

for deb in "${debs[@]}"; do
  echo "== $(basename "$deb")"
  dpkg-deb --field "$deb" Package Version Section Depends
  dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {print "  " $6 ($7 ? " " $7 " " $8 : "")}'
done

echo "== lintian"
report=$(lintian --tag-display-limit 0 "${debs[@]}" 2>&1 | grep -v 'running with root privileges' || true)
echo "${report:-no tags}"
if grep -q '^E: ' <<<"$report"; then
  echo "package.sh: lintian reports errors" >&2
  exit 1
fi
echo "packages in $out"
