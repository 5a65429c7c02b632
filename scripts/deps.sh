#!/usr/bin/env bash
# Installs what building and testing need, when it is missing (Debian).
set -euo pipefail

need=()
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v g++ >/dev/null 2>&1 || need+=(g++)
command -v ninja >/dev/null 2>&1 || need+=(ninja-build)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
# Optional for a build (without it the micro-benchmarks are skipped), kept so
# that a build from this script has everything.
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
# libsodium: the key check value of the companion programs (its static
# archive too, for the static link), found through pkg-config.
command -v pkg-config >/dev/null 2>&1 || need+=(pkg-config)
[ -f /usr/include/sodium.h ] && [ -n "$(find /usr/lib -name libsodium.a -print -quit)" ] ||
  need+=(libsodium-dev)
# The format check of CI.
command -v clang-format >/dev/null 2>&1 || need+=(clang-format)
# The manual-page tests format the pages.
command -v groff >/dev/null 2>&1 || need+=(groff-base)

if [ ${#need[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${need[@]}"
fi
