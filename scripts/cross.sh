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
if [ ${#need[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${need[@]}"
fi

# libsodium (the companion programs' key check value) for the target
# processor: Debian's package of that architecture, unpacked into the build
# folder, not installed. Installed, it would bring that architecture's C
# library into /lib, where the emulator's programs would load it in place of
# the cross tree's own, which does not go with it.
deps=$(realpath -m "$build")/target-packages
if [ ! -f "$deps/usr/lib/$triplet/libsodium.a" ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  if ! dpkg --print-foreign-architectures | grep -qx "$debarch"; then
    $sudo dpkg --add-architecture "$debarch"
    $sudo apt-get update
  fi
  mkdir -p "$deps/download"
  if ! (cd "$deps/download" && apt-get download "libsodium-dev:$debarch"); then
    $sudo apt-get update
    (cd "$deps/download" && apt-get download "libsodium-dev:$debarch")
  fi
  for package in "$deps"/download/*.deb; do dpkg-deb -x "$package" "$deps"; done
fi
# pkg-config describes the target's libraries, found under the unpacked tree.
export PKG_CONFIG_LIBDIR=$deps/usr/lib/$triplet/pkgconfig
export PKG_CONFIG_SYSROOT_DIR=$deps
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DQUARVEL_BUILD_BENCHMARKS=OFF
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure -j2
