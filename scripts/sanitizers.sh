#!/usr/bin/env bash
# Builds the whole project with AddressSanitizer and UndefinedBehaviorSanitizer
# in a folder of its own and runs the whole test suite there.
#
#   bash scripts/sanitizers.sh [BUILD_DIR [SOURCE_DIR]]
#
# Defaults: build-asan in the source folder, the folder above this script.
# The programs that the tests start are instrumented too; a sanitizer finding
# in them ends them with exit status 223, which no test expects.
set -euo pipefail

source_dir="$(cd "${2:-$(dirname "$0")/..}" && pwd)"
build_dir="${1:-$source_dir/build-asan}"

if [ -f "$source_dir/scripts/deps.sh" ]; then
  bash "$source_dir/scripts/deps.sh"
fi

sanitize="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
# g++ warns of "maybe uninitialized" values inside the standard library's own
# code (std::regex, std::function) once the sanitizers instrument it; those
# warnings say nothing about this project and stay on in the normal build.
cmake -S "$source_dir" -B "$build_dir" -G Ninja \
  -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="-O1 $sanitize -Wno-maybe-uninitialized" \
  -DCMAKE_EXE_LINKER_FLAGS="$sanitize" \
  -DQUARVEL_BUILD_BENCHMARKS=OFF -DQUARVEL_STATIC=OFF >/dev/null
cmake --build "$build_dir"

export ASAN_OPTIONS="detect_leaks=1:exitcode=223:strict_string_checks=1:check_initialization_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:exitcode=223"
ctest --test-dir "$build_dir" --output-on-failure --timeout 300 -j "$(nproc)"
