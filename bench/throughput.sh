#!/usr/bin/env bash
# End-to-end throughput of quarvel, whole process, on a generated text.
#
#   bash bench/throughput.sh BUILD_DIR [RUNS]
#
# BUILD_DIR is a build folder of the project (it holds quarvel and the
# helpers bench/quarvel_bench_text and bench/quarvel_bench_time); RUNS
# (default 3) is how many times each timing is taken, the fastest counting.
#
# In a temporary folder (removed at the end) the script makes, with
# quarvel_bench_text, a deterministic plain text of 64 MiB with a valid header
# ("HHHHH " and ten groups of three equal letters) followed by words of
# letters, "|" blanks, "<*" and "*" line ends and figures between "#" and
# "%", a key file, and the text that deciphering must give back. It then runs
# `quarvel C` and `quarvel D` on it with standard input from /dev/null and
# the console sent to /dev/null, and checks the round trip. It prints:
#   - MB/s of plain text (1 MB = 10^6 bytes) for C and for D, from the wall
#     time of the whole process (fork to exit, as quarvel_bench_time takes
#     it);
#   - the peak resident memory of each run (from /usr/bin/time -v), for the
#     64 MiB text and for a 1 MiB text (streaming: the two should be equal);
#   - the wall time of C and of D on a 1 KB message;
#   - where openssl is installed, the time of `openssl enc -chacha20` on the
#     same 64 MiB file, and our throughput as a ratio of it.
# Exit status: 0; 1 when a run fails or a round trip does not give the text
# back; 2 for a wrong call.
set -euo pipefail

if [ $# -lt 1 ] || [ ! -x "$1/quarvel" ] || [ ! -x "$1/bench/quarvel_bench_text" ] ||
  [ ! -x "$1/bench/quarvel_bench_time" ]; then
  echo "usage: $0 BUILD_DIR [RUNS]   (BUILD_DIR holds quarvel and bench/quarvel_bench_*)" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
runs=${2:-3}
quarvel=$build/quarvel
maketext=$build/bench/quarvel_bench_text
timer=$build/bench/quarvel_bench_time

if [ ! -x /usr/bin/time ]; then
  echo "installing the package 'time' for /usr/bin/time" >&2
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get install -y time >/dev/null 2>&1 || { $sudo apt-get update >/dev/null && $sudo apt-get install -y time >/dev/null; }
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# run_timed LABEL COMMAND...: the fastest wall time of `runs` runs, from
# quarvel_bench_time (standard input and output /dev/null), in BEST_S; then
# one more run under /usr/bin/time -v for the peak resident memory, in
# PEAK_KB.
run_timed() {
  local label=$1
  shift
  if ! BEST_S=$("$timer" "$runs" "$@" 2>"$work/stderr.txt"); then
    echo "$label: the command failed:" >&2
    cat "$work/stderr.txt" >&2
    exit 1
  fi
  if ! /usr/bin/time -v -o "$work/time.txt" "$@" </dev/null >/dev/null 2>"$work/stderr.txt"; then
    echo "$label: the command failed:" >&2
    cat "$work/stderr.txt" >&2
    exit 1
  fi
  PEAK_KB=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt")
}

mbps() { awk -v bytes="$1" -v s="$2" 'BEGIN { printf "%.1f", bytes / s / 1e6 }'; }
mib() { awk -v kb="$1" 'BEGIN { printf "%.2f MiB", kb / 1024 }'; }

check_round_trip() {
  if ! cmp -s "$1" "$2"; then
    echo "FAIL: deciphering $3 does not give the text back" >&2
    cmp "$1" "$2" >&2 || true
    exit 1
  fi
}

# One size: sets C_MBPS, D_MBPS, C_PEAK, D_PEAK, C_S, D_S.
measure() {
  local size=$1 name=$2
  "$maketext" "$size" "$name.txt" "$name.expected" "$name.key"
  run_timed "C $name" "$quarvel" C bench "$name.key" "$name.cipher" "$name.txt"
  C_S=$BEST_S
  C_PEAK=$PEAK_KB
  run_timed "D $name" "$quarvel" D bench "$name.key" "$name.cipher" "$name.deciphered"
  D_S=$BEST_S
  D_PEAK=$PEAK_KB
  check_round_trip "$name.deciphered" "$name.expected" "$name"
  C_MBPS=$(mbps "$size" "$C_S")
  D_MBPS=$(mbps "$size" "$D_S")
}

big=$((64 * 1024 * 1024))
small=$((1024 * 1024))

echo "quarvel throughput ($(nproc) cores, fastest of $runs runs, console to /dev/null)"

measure "$big" big
big_c_mbps=$C_MBPS
big_d_mbps=$D_MBPS
printf '64 MiB text: encipher %8.3f s  %7s MB/s   peak %s\n' "$C_S" "$C_MBPS" "$(mib "$C_PEAK")"
printf '64 MiB text: decipher %8.3f s  %7s MB/s   peak %s\n' "$D_S" "$D_MBPS" "$(mib "$D_PEAK")"

measure "$small" small
printf ' 1 MiB text: encipher %8.3f s  %7s MB/s   peak %s\n' "$C_S" "$C_MBPS" "$(mib "$C_PEAK")"
printf ' 1 MiB text: decipher %8.3f s  %7s MB/s   peak %s\n' "$D_S" "$D_MBPS" "$(mib "$D_PEAK")"

measure 1000 message
printf ' 1 KB message: encipher %.2f ms, decipher %.2f ms (wall, whole process)\n' \
  "$(awk -v s="$C_S" 'BEGIN { print s * 1000 }')" "$(awk -v s="$D_S" 'BEGIN { print s * 1000 }')"

if command -v openssl >/dev/null 2>&1; then
  key=000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f
  iv=000102030405060708090a0b0c0d0e0f
  run_timed "openssl" openssl enc -chacha20 -K "$key" -iv "$iv" -in big.txt -out big.chacha
  openssl_mbps=$(mbps "$big" "$BEST_S")
  printf 'openssl enc -chacha20, same 64 MiB file: %.3f s  %s MB/s\n' "$BEST_S" "$openssl_mbps"
  printf 'ratio to openssl: encipher %s, decipher %s\n' \
    "$(awk -v a="$big_c_mbps" -v b="$openssl_mbps" 'BEGIN { printf "%.2f", a / b }')" \
    "$(awk -v a="$big_d_mbps" -v b="$openssl_mbps" 'BEGIN { printf "%.2f", a / b }')"
else
  echo "openssl not found: no comparison"
fi
echo "round trips: ok"
