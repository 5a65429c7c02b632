#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a number of seconds.
#
#   bash scripts/fuzz.sh [SECONDS_PER_TARGET [BUILD_DIR [SOURCE_DIR]]]
#
# Defaults: 30 seconds, build-fuzz in the source folder, the folder above this
# script. The seeds are fuzz/corpus/TARGET; inputs that once failed, kept in
# tests/fixtures/regressions/TARGET, run with them. New inputs collect in
# BUILD_DIR/corpus/TARGET and are used again on the next run; a failing input
# lands in BUILD_DIR/artifacts/TARGET/. Ends with a non-zero status when a
# target fails.
set -euo pipefail

seconds="${1:-30}"
source_dir="$(cd "${3:-$(dirname "$0")/..}" && pwd)"
build_dir="${2:-$source_dir/build-fuzz}"
targets=(key_reading decipher round_trip)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

apt_install() {
  as_root apt-get update
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y "$@"
}

# clang with its libFuzzer runtime, cmake and ninja.
need=()
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v ninja >/dev/null 2>&1 || need+=(ninja-build)
command -v clang++ >/dev/null 2>&1 || need+=(clang)
if [ ${#need[@]} -gt 0 ]; then apt_install "${need[@]}"; fi
if [ ! -f "$(clang++ -print-resource-dir)/lib/linux/libclang_rt.fuzzer-x86_64.a" ] &&
  [ ! -f "$(clang++ -print-file-name=libclang_rt.fuzzer-x86_64.a)" ]; then
  version="$(clang++ -dumpversion | cut -d. -f1)"
  apt_install "libclang-rt-${version}-dev"
fi

cmake -S "$source_dir/fuzz" -B "$build_dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build_dir"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

failed=()
for target in "${targets[@]}"; do
  corpus="$build_dir/corpus/$target"
  artifacts="$build_dir/artifacts/$target"
  mkdir -p "$corpus" "$artifacts"
  echo "== $target: $seconds s"
  log="$build_dir/$target.log"
  # Inputs that once failed are run first, with the seeds.
  inputs=("$corpus" "$source_dir/fuzz/corpus/$target")
  regressions="$source_dir/tests/fixtures/regressions/$target"
  if [ -d "$regressions" ]; then inputs+=("$regressions"); fi
  if "$build_dir/${target}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
    -max_len=8192 -print_final_stats=1 -artifact_prefix="$artifacts/" \
    "${inputs[@]}" >"$log" 2>&1; then
    grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" || true
  else
    tail -n 60 "$log"
    echo "== $target FAILED; input in $artifacts/"
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz targets failed: ${failed[*]}"
  exit 1
fi
echo "all fuzz targets ran clean"
