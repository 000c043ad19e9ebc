#!/usr/bin/env bash
# Installs a build into a scratch prefix and uses it the ways other projects
# do: a CMake consumer (find_package), a pkg-config consumer, the installed
# tkfcu, and the Debian package of the same install.
#
# Usage: consumers.sh BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
version=$3
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
expected="4527 643264.1353 3431940.3239 900150983cd24fb0d6963f7d28e17f72"

fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

# Installed text files (package files, headers) name neither tree, and the
# installed programs look for libraries only relative to themselves.
if grep -rIl -e "$build" -e "$source" "$prefix"; then
  fail "installed files above name the build or source folder"
fi
for f in "$prefix"/bin/tkfcu "$prefix"/lib*/libtavikfcu.so* "$prefix"/lib/*/libtavikfcu.so*; do
  [ -f "$f" ] || continue
  if readelf -d "$f" | grep -E 'RPATH|RUNPATH' | grep -v -F '$ORIGIN' ; then
    fail "$f has a search path outside the prefix"
  fi
done
lib=$(dirname "$(find "$prefix" -name 'libtavikfcu.so' | head -1)")
soname=$(readelf -d "$lib/libtavikfcu.so" | sed -n 's/.*SONAME.*\[\(.*\)\]/\1/p')
[ "$soname" = "libtavikfcu.so.${version%%.*}" ] || fail "SONAME is '$soname'"
[ -L "$lib/$soname" ] && [ -f "$lib/libtavikfcu.so.$version" ] || fail "SONAME links missing in $lib"

out=$("$prefix/bin/tkfcu" --version)
[ "$out" = "tkfcu $version" ] || fail "installed tkfcu --version printed '$out'"

# CMake: find_package(TavikFCU) and TavikFCU::tavikfcu.
cmake -S "$here/consumer" -B "$scratch/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DTK_VERSION="$version" -DTK_VERSION_MAJOR="${version%%.*}" >/dev/null
cmake --build "$scratch/cmake-build" >/dev/null
out=$(LD_LIBRARY_PATH="$lib" "$scratch/cmake-build/consumer")
[ "$out" = "$expected" ] || fail "CMake consumer printed '$out'"

# pkg-config.
export PKG_CONFIG_PATH="$lib/pkgconfig"
[ "$(pkg-config --modversion tavikfcu)" = "$version" ] || fail "pkg-config version"
# shellcheck disable=SC2046
c++ -std=c++17 -o "$scratch/pc-consumer" "$here/consumer/consumer.cpp" \
  $(pkg-config --cflags --libs tavikfcu) -Wl,-rpath,"$(pkg-config --variable=libdir tavikfcu)"
out=$("$scratch/pc-consumer")
[ "$out" = "$expected" ] || fail "pkg-config consumer printed '$out'"

# The Debian package holds the same install under /usr. (Its dependency list
# comes from dpkg-shlibdeps, which can take minutes on a busy machine; the
# contents are what is checked here.)
(cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/deb" \
  -D CPACK_DEBIAN_PACKAGE_SHLIBDEPS=OFF >/dev/null)
deb=$(ls "$scratch"/deb/*.deb)
listing=$(dpkg-deb -c "$deb")
for f in bin/tkfcu include/tavikfcu/TavikFCU.h "libtavikfcu.so.$version" \
         cmake/TavikFCU/TavikFCUConfig.cmake cmake/TavikFCU/TavikFCUConfigVersion.cmake \
         pkgconfig/tavikfcu.pc; do
  grep -q -F "$f" <<<"$listing" || fail "the package lacks $f"
done
dpkg-deb -x "$deb" "$scratch/deb-root"
grep -q '^prefix=/usr$' "$scratch"/deb-root/usr/lib*/pkgconfig/tavikfcu.pc \
  "$scratch"/deb-root/usr/lib/*/pkgconfig/tavikfcu.pc 2>/dev/null || fail "package's tavikfcu.pc prefix"
echo "packaging: install, CMake and pkg-config consumers, tkfcu and the Debian package are fine"
