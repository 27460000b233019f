#!/usr/bin/env bash
# Installs the build tree into a temporary prefix and uses what it finds there as a user would:
# the terminal must find its private device library, the library must carry its SONAME, and the
# C example must build through the pkg-config file (which has to name this prefix) and run.
#   install-layout.sh BUILD_DIR LIBDIR     LIBDIR as CMake's CMAKE_INSTALL_LIBDIR, relative to the prefix
set -euo pipefail
build=$1
libdir=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "install-layout: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
# The run path, not the environment, must lead the terminal to its library.
resolved=$(env -u LD_LIBRARY_PATH ldd "$prefix/bin/tavrionapp" | awk '/libQB7720lib/ {print $3}' | xargs -r realpath)
[[ $resolved == "$prefix/$libdir/tavrion/libQB7720lib.so" ]] ||
  fail "tavrionapp finds its device library at '${resolved:-nowhere}'"

soname=$(readelf -d "$prefix/$libdir/libQB7720DLL.so" | sed -n 's/.*SONAME.*\[\(.*\)\]/\1/p')
[[ $soname == libQB7720DLL.so.* && -e $prefix/$libdir/$soname ]] || fail "SONAME '$soname' not installed"

export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
[[ $(pkg-config --variable=prefix qb7720dll) == "$prefix" ]] || fail "pkg-config prefix is not the install prefix"
examples=$prefix/share/doc/libqb7720dll-dev/examples
cp -r "$examples" "$prefix/example"
make -s -C "$prefix/example" CFLAGS="-O2 -Wall -Werror" LDFLAGS="-Wl,-rpath,$prefix/$libdir"
out=$(QB7720_EMULATOR="bridges=1 peer=loopback" "$prefix/example/bridge_echo" QB7720 "Hello, bridge!" 2>&1) ||
  { echo "$out" >&2; fail "the installed example failed"; }
grep -q 'received 14 bytes: Hello, bridge!' <<<"$out" || { echo "$out" >&2; fail "no echo"; }

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$prefix/share/applications/tavrion.desktop"
fi
for size in 16 22 24 32 48 64 128 256; do
  [[ -f $prefix/share/icons/hicolor/${size}x$size/apps/tavrion.png ]] || fail "no ${size}px icon"
done
echo "install layout ok under $prefix"
