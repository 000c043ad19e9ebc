#!/usr/bin/env bash
# Installs, with apt-get, the Debian packages one job needs and the machine
# lacks. Usage: scripts/install-deps.sh build|bench|fuzz
set -euo pipefail

case "${1:-build}" in
  # lldb: the crash-dump tests open the dumps with it. libcurl: the internet layer; nginx and
  # openssl: its tests serve plain and HTTPS on loopback with certificates made at test time.
  build) pkgs="cmake make g++ libgtest-dev libgmock-dev tzdata lldb libcurl4-openssl-dev nginx openssl ca-certificates" ;;
  # Benchmarks run the peers named beside each figure in the same binary.
  bench) pkgs="cmake make g++ libbenchmark-dev qtbase5-dev rapidjson-dev nlohmann-json3-dev
               libproj-dev proj-data libgeographiclib-dev libssl-dev libisal-dev libcsv-dev" ;;
  fuzz)  pkgs="cmake make clang libclang-rt-14-dev" ;;
  *) echo "usage: $0 build|bench|fuzz" >&2; exit 2 ;;
esac

# The packaging test builds a consumer through pkg-config.
if [ "${1:-build}" = build ]; then pkgs="$pkgs pkg-config"; fi

missing=""
for p in $pkgs; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

echo "installing:$missing"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing
