#!/usr/bin/env bash
# Builds the project for another processor with Debian's cross compiler and
# runs the whole test suite under the user mode emulator; installs both when
# missing (Debian, as root or with sudo).
#
# Usage: scripts/cross.sh <architecture> [build dir]
#   architecture: aarch64
#   build dir:    default build-<architecture>
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 <architecture> [build dir]" >&2
  exit 2
fi
arch=$1
case "$arch" in
  aarch64)
    triplet=aarch64-linux-gnu
    debarch=arm64
    ;;
  *)
    echo "$0: no cross build for '$arch' (known: aarch64)" >&2
    exit 2
    ;;
esac
build=${2:-build-$arch}
toolchain=cmake/$triplet.cmake

need=()
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v ninja >/dev/null 2>&1 || need+=(ninja-build)
command -v "$triplet-g++" >/dev/null 2>&1 || need+=("g++-$triplet")
command -v "qemu-$arch" >/dev/null 2>&1 || need+=(qemu-user)
command -v pkg-config >/dev/null 2>&1 || need+=(pkg-config)
# GoogleTest is compiled from the sources this package ships.
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
# libsodium (the companion programs' key check value) for the target
# processor: Debian's own package of that architecture, installed beside
# this machine's (multiarch).
[ -f "/usr/lib/$triplet/libsodium.a" ] || need+=("libsodium-dev:$debarch")

if [ ${#need[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  if [[ " ${need[*]} " == *":$debarch "* ]] && ! dpkg --print-foreign-architectures | grep -qx "$debarch"; then
    $sudo dpkg --add-architecture "$debarch"
  fi
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${need[@]}"
fi

# pkg-config describes the target's libraries, not this machine's.
export PKG_CONFIG_LIBDIR=/usr/lib/$triplet/pkgconfig:/usr/share/pkgconfig
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DQUARVEL_BUILD_BENCHMARKS=OFF
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure -j2
