#!/usr/bin/env bash
# End-to-end throughput of quarvel beside a stream cipher writing the same
# file, in one run.
#
#   bash bench/throughput.sh BUILD_DIR [ROUNDS]
#
# BUILD_DIR is a build folder of the project (it holds quarvel and the
# helpers bench/quarvel_bench_text, bench/quarvel_bench_time and
# bench/quarvel_bench_noop); ROUNDS (default 5) is how many times each
# command is timed, the fastest counting.
#
# In a temporary folder (TMPDIR, removed at the end) the script makes, with
# quarvel_bench_text, a deterministic plain text of 64 MiB with a valid
# header followed by words of letters, "|" blanks, "<*" and "*" line ends and
# figures between "#" and "%", a key file, and the text that deciphering must
# give back. Each round then times, one right after the other, for each
# instruction-set tier the processor has (portable, avx2, avx512, chosen by
# QUARVEL_ISA) `quarvel C` and `quarvel D`, then `openssl enc -chacha20` on
# the plain text and on the cipher text, and `cp` of the cipher text to a new
# file (the I/O limit: the bytes a run reads and writes, with no work on
# them), each writing its output to a file in that folder, with standard
# input from /dev/null and the console to /dev/null. It prints, per tier and
# mode, the best MB/s of plain text (1 MB = 10^6 bytes, whole process from
# fork to exit), the best MB/s of openssl on the same input and the ratio of
# the two, and the ratio to the I/O limit (the plain text's bytes over cp's
# time); then in brackets the same for the medians of the rounds (openssl's
# time swings most: emptying a file to length 0 makes the file system write
# it out at its close). Then the I/O-limit row itself, the peak resident
# memory of a 64 MiB and a 1 MiB run (/usr/bin/time -v), on two processors
# and held to one (taskset -c 0), where the run has no second thread, in the
# best tier; and the best time
# of the whole process on a 1 KB message beside a static do-nothing program
# started the same way (best of 30 each), with their ratio.
# Exit status: 0; 1 when a run fails or a round trip does not give the text
# back; 2 for a wrong call.
set -euo pipefail

if [ $# -lt 1 ] || [ ! -x "$1/quarvel" ] || [ ! -x "$1/bench/quarvel_bench_text" ] ||
  [ ! -x "$1/bench/quarvel_bench_time" ] || [ ! -x "$1/bench/quarvel_bench_noop" ]; then
  echo "usage: $0 BUILD_DIR [ROUNDS]   (BUILD_DIR holds quarvel and bench/quarvel_bench_*)" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
rounds=${2:-5}
quarvel=$build/quarvel
maketext=$build/bench/quarvel_bench_text
timer=$build/bench/quarvel_bench_time
noop=$build/bench/quarvel_bench_noop

if ! command -v openssl >/dev/null 2>&1; then
  echo "openssl is needed for the comparison (apt-get install openssl)" >&2
  exit 2
fi
if [ ! -x /usr/bin/time ]; then
  echo "installing the package 'time' for /usr/bin/time" >&2
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get install -y time >/dev/null 2>&1 || { $sudo apt-get update >/dev/null && $sudo apt-get install -y time >/dev/null; }
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# timed COMMAND...: the wall time of one run in seconds (quarvel_bench_time,
# standard input and output /dev/null).
timed() {
  if ! "$timer" 1 "$@" 2>"$work/stderr.txt"; then
    echo "the command failed: $*" >&2
    cat "$work/stderr.txt" >&2
    exit 1
  fi
}
best() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }
# median TIMES...: the middle one of the times (the mean of the two middle
# ones for an even count).
median() {
  printf '%s\n' "$@" | sort -g | awk '{ t[NR] = $1 } END {
    if (NR % 2) print t[(NR + 1) / 2]; else print (t[NR / 2] + t[NR / 2 + 1]) / 2 }'
}
mbps() { awk -v bytes="$1" -v s="$2" 'BEGIN { printf "%.1f", bytes / s / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
mib() { awk -v kb="$1" 'BEGIN { printf "%.2f MiB", kb / 1024 }'; }
peak_kb() {
  /usr/bin/time -v -o "$work/time.txt" "$@" </dev/null >/dev/null 2>"$work/stderr.txt" || {
    echo "the command failed: $*" >&2
    cat "$work/stderr.txt" >&2
    exit 1
  }
  awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt"
}

key=000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f
iv=000102030405060708090a0b0c0d0e0f
size=$((64 * 1024 * 1024))
"$maketext" "$size" big.txt big.expected big.key

# The tiers this processor has: those whose features /proc/cpuinfo lists
# (isa/isa.h names them), portable everywhere.
tiers="portable"
flags=$(awk -F': ' '/^flags/ { print " " $2 " "; exit }' /proc/cpuinfo 2>/dev/null || true)
has() {
  for f in "$@"; do
    case "$flags" in *" $f "*) ;; *) return 1 ;; esac
  done
}
if has avx2 bmi1 bmi2 popcnt; then
  tiers="$tiers avx2"
  if has avx512f avx512bw avx512vl avx512vbmi avx512_vbmi2 avx512_bitalg; then
    tiers="$tiers avx512"
  fi
fi

echo "quarvel beside openssl enc -chacha20 and cp, 64 MiB text, output to a file in $(dirname "$work")"
echo "($(nproc) cores, tiers: $tiers; best and median of $rounds alternating rounds, console to /dev/null)"
declare -A c d
oc=() od=() io=()
for ((round = 0; round < rounds; ++round)); do
  for tier in $tiers; do
    export QUARVEL_ISA=$tier
    c[$tier]+=" $(timed "$quarvel" C bench big.key big.cipher big.txt)"
    d[$tier]+=" $(timed "$quarvel" D bench big.key big.cipher big.deciphered)"
    unset QUARVEL_ISA
    if ! cmp -s big.deciphered big.expected; then
      echo "FAIL: deciphering does not give the text back ($tier)" >&2
      exit 1
    fi
  done
  oc+=("$(timed openssl enc -chacha20 -K "$key" -iv "$iv" -in big.txt -out big.chacha)")
  od+=("$(timed openssl enc -chacha20 -K "$key" -iv "$iv" -in big.cipher -out big.chacha)")
  rm -f big.copy
  io+=("$(timed cp big.cipher big.copy)")
done
bestof() {
  local b=""
  for t in "$@"; do b=$(best "$b" "$t"); done
  echo "$b"
}
iob=$(bestof "${io[@]}") iom=$(median "${io[@]}")
for tier in $tiers; do
  for mode in encipher decipher; do
    if [ "$mode" = encipher ]; then
      read -r -a ours <<<"${c[$tier]}"
      theirs=("${oc[@]}")
    else
      read -r -a ours <<<"${d[$tier]}"
      theirs=("${od[@]}")
    fi
    b=$(bestof "${ours[@]}") ob=$(bestof "${theirs[@]}")
    m=$(median "${ours[@]}") om=$(median "${theirs[@]}")
    printf '%-9s %s %7s MB/s  openssl %7s MB/s  ratio %s  I/O limit %s  (medians: %s, %s, %s, %s)\n' \
      "$tier" "$mode" "$(mbps "$size" "$b")" "$(mbps "$size" "$ob")" "$(ratio "$ob" "$b")" \
      "$(ratio "$iob" "$b")" "$(mbps "$size" "$m")" "$(mbps "$size" "$om")" "$(ratio "$om" "$m")" \
      "$(ratio "$iom" "$m")"
  done
done
printf 'I/O limit, cp of the cipher text (%s bytes): %s MB/s of plain text (median %s)\n' \
  "$(wc -c <big.cipher | tr -d ' ')" "$(mbps "$size" "$iob")" "$(mbps "$size" "$iom")"

"$maketext" $((1024 * 1024)) small.txt small.expected small.key
# peak_row LABEL PREFIX...: the peak memory of both modes on both sizes,
# each command run under PREFIX.
peak_row() {
  local label=$1
  shift
  printf 'peak memory, %-20s 64 MiB: encipher %s, decipher %s; 1 MiB: encipher %s, decipher %s\n' \
    "$label" \
    "$(mib "$(peak_kb "$@" "$quarvel" C bench big.key big.cipher big.txt)")" \
    "$(mib "$(peak_kb "$@" "$quarvel" D bench big.key big.cipher big.deciphered)")" \
    "$(mib "$(peak_kb "$@" "$quarvel" C bench small.key small.cipher small.txt)")" \
    "$(mib "$(peak_kb "$@" "$quarvel" D bench small.key small.cipher small.deciphered)")"
}
peak_row "two processors:" env
peak_row "one (taskset -c 0):" taskset -c 0

"$maketext" 1000 message.txt message.expected message.key
m="" n=""
for ((round = 0; round < 30; ++round)); do
  m=$(best "$m" "$(timed "$quarvel" C bench message.key message.cipher message.txt)")
  n=$(best "$n" "$(timed "$noop")")
done
printf '1 KB message: encipher %.3f ms, static do-nothing program %.3f ms, ratio %s\n' \
  "$(awk -v s="$m" 'BEGIN { print s * 1000 }')" "$(awk -v s="$n" 'BEGIN { print s * 1000 }')" \
  "$(ratio "$m" "$n")"
echo "round trips: ok"
