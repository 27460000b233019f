#!/usr/bin/env bash
# Installs the packages that scripts/package.sh built, uses them as a user of each would, removes
# them again and checks that nothing they brought is left behind:
#   - the C example of libqb7720dll-dev built from /usr/share/doc through pkg-config and through the
#     CMake package, and run against the in-process emulator;
#   - the same program over a private bus, against the installed qb7720-emulator;
#   - the installed tavrionapp started offscreen, with its record file in the (temporary) home.
#   test-packages.sh [DIR]   DIR holds the .deb files (default build/packages)
# Needs root or sudo (apt-get install, apt-get purge).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$(cd "${1:-${BUILD_DIR:-build}/packages}" && pwd)
debs=("$dir"/*.deb)
[[ -f ${debs[0]} ]] || { echo "test-packages.sh: no packages in $dir (run scripts/package.sh)" >&2; exit 1; }
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

work=$(mktemp -d)
names=()
cleanup() {
  ((${#names[@]})) && $SUDO apt-get purge -y -qq "${names[@]}" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "test-packages.sh: $*" >&2; exit 1; }

# Every path the packages hold, and the directories among them that exist before: those must
# survive the removal, all others must go.
for deb in "${debs[@]}"; do
  names+=("$(dpkg-deb --field "$deb" Package)")
  dpkg-deb --contents "$deb" | awk '{print $6}' | sed -e 's|^\.||' -e 's|/$||' | grep -v '^$' >>"$work/paths"
done
sort -u -o "$work/paths" "$work/paths"
# A copy left installed by an earlier run would hide what the removal leaves.
installed=$(dpkg-query -W -f='${Package} ${Status}\n' "${names[@]}" 2>/dev/null | awk '/ installed$/ {print $1}' || true)
[[ -z $installed ]] || $SUDO apt-get purge -y -qq $installed >/dev/null
while read -r path; do if [[ -e $path || -L $path ]]; then echo "$path"; fi; done <"$work/paths" >"$work/before"
version=$(dpkg-deb --field "${debs[0]}" Version)

echo "== installing ${names[*]}"
DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends \
  "${debs[@]}" >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get install failed"; }

examples=/usr/share/doc/libqb7720dll-dev/examples
# What comes back from the loopback bridge is the proof, and the program's exit status.
check_echo() {
  local what=$1; shift
  local output status=0
  output=$("$@" QB7720 "Hello, bridge!" 2>&1) || status=$?
  ((status == 0)) || { echo "$output" >&2; fail "$what: exit status $status"; }
  grep -q 'received 14 bytes: Hello, bridge!' <<<"$output" || { echo "$output" >&2; fail "$what: no echo"; }
  echo "$what: ok"
}

echo "== the C example through pkg-config"
[[ $(pkg-config --modversion qb7720dll) == "$version" ]] || fail "pkg-config reports $(pkg-config --modversion qb7720dll)"
cp -r "$examples" "$work/make"
make -s -C "$work/make" CFLAGS="-O2 -Wall -Werror"
readelf -d "$work/make/bridge_echo" | grep -q 'NEEDED.*\[libQB7720DLL.so.1\]' || fail "not linked against the SONAME"
check_echo "pkg-config build, in-process emulator" \
  env QB7720_EMULATOR="bridges=1 peer=loopback" "$work/make/bridge_echo"

echo "== the C example through the CMake package"
cp -r "$examples" "$work/cmake"
cmake -S "$work/cmake" -B "$work/cmake/build" -G Ninja >/dev/null
cmake --build "$work/cmake/build" >/dev/null
check_echo "CMake package build, in-process emulator" \
  env QB7720_EMULATOR="bridges=1 peer=loopback" "$work/cmake/build/bridge_echo"
check_echo "CMake package build, BlueZ backend over the installed emulator daemon" \
  qb7720-on-bus "bridges=1 peer=loopback" -- "$work/cmake/build/bridge_echo"

echo "== tavrionapp, offscreen"
mkdir -p "$work/home" "$work/cwd"
# It runs until it is stopped: still running after a few seconds (timeout's 124) means it came up.
status=0
(cd "$work/cwd" && HOME="$work/home" QT_QPA_PLATFORM=offscreen QB7720_EMULATOR="bridges=1" \
  timeout 5 tavrionapp >"$work/app.log" 2>&1) || status=$?
[[ $status == 124 ]] || { cat "$work/app.log" >&2; fail "tavrionapp ended with status $status"; }
[[ -f $work/home/opt/Tavrion/TavrionCfg ]] || fail "no record file in the home"
[[ ! -e $work/cwd/~ ]] || fail "a folder named ~ in the working directory"
echo "tavrionapp: ok"

echo "== removing"
$SUDO apt-get purge -y -qq "${names[@]}" >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get purge failed"; }
names=()
left=$(while read -r path; do if [[ -e $path || -L $path ]]; then echo "$path"; fi; done <"$work/paths" |
  comm -23 - "$work/before")
[[ -z $left ]] || { echo "$left" >&2; fail "left behind after removal"; }
echo "packages installed, used and removed without a trace"
