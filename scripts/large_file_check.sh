#!/usr/bin/env bash
# Opt-in check of files over 4 GiB (not part of CI: it writes about 11 GiB and
# takes a few minutes).
#
#   bash scripts/large_file_check.sh [BUILD_DIR [WORK_DIR]]
#
# BUILD_DIR holds the built quarvel (default: build in the source folder; it
# is built there when missing). WORK_DIR is where the files go (default: a new
# folder under $TMPDIR or /tmp, removed at the end); it needs 12 GiB free, or
# the check is skipped.
#
# 1. Keys and header behind 4 GiB: a key file and a plain text that start
#    with 4 GiB and a few bytes of zeros (sparse). The cipher text must be the
#    zeros followed by exactly the cipher text of the same message without
#    them, and deciphering must give the plain text back.
# 2. A text over 4 GiB: the header, then 4 GiB and a few bytes of zeros
#    (code 0, printed as "|"). Deciphering must give the header and that many
#    "|".
# Both runs must stay in constant memory (peak resident size printed, and
# checked against a bound when /usr/bin/time is there).
set -euo pipefail

source_dir="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${1:-$source_dir/build}"
quarvel="$build_dir/quarvel"
max_rss_kb=65536

if [ ! -x "$quarvel" ]; then
  bash "$source_dir/scripts/deps.sh"
  cmake -S "$source_dir" -B "$build_dir" -G Ninja >/dev/null
  cmake --build "$build_dir" --target quarvel
fi

if [ -n "${2:-}" ]; then
  work="$2"
  mkdir -p "$work"
  own_work=false
else
  work="$(mktemp -d "${TMPDIR:-/tmp}/quarvel-large-XXXXXX")"
  own_work=true
fi
cleanup() {
  rm -f "$work"/key.txt "$work"/small.txt "$work"/small.enc "$work"/plain.txt \
    "$work"/plain.enc "$work"/plain.dec
  if $own_work; then rmdir "$work" 2>/dev/null || true; fi
}
trap cleanup EXIT

free_kb="$(df -Pk "$work" | awk 'NR == 2 { print $4 }')"
if [ "$free_kb" -lt $((12 * 1024 * 1024)) ]; then
  echo "large file check skipped: $((free_kb / 1024 / 1024)) GiB free in $work, 12 needed"
  exit 0
fi

# Runs quarvel with standard input at its end and the echo dropped; prints
# the time and peak memory of the run.
run() {
  local start end
  start=$(date +%s)
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f "%M" -o "$work/rss" "$quarvel" "$@" </dev/null >/dev/null
  else
    "$quarvel" "$@" </dev/null >/dev/null
  fi
  end=$(date +%s)
  if [ -f "$work/rss" ]; then
    local rss
    rss="$(tail -n 1 "$work/rss")"
    rm -f "$work/rss"
    echo "  quarvel $1: $((end - start)) s, peak resident ${rss} KiB"
    if [ "$rss" -gt "$max_rss_kb" ]; then
      echo "FAILED: memory grows with the file (${rss} KiB)"
      exit 1
    fi
  else
    echo "  quarvel $1: $((end - start)) s"
  fi
}

# Writes `count` copies of the byte `char` to standard output.
repeat_byte() {
  head -c "$2" /dev/zero | if [ "$1" = "0" ]; then cat; else tr '\0' "$1"; fi
}

header='HHHHH QQQ WWW EEE RRR TTT ZZZ UUU III OOO PPP '
body='TREFFEN AM BAHNHOF UM #1430%<*ENDE'
printed=$'TREFFEN AM BAHNHOF UM 1430\r\nENDE'
lead=$((4 * 1024 * 1024 * 1024 + 77))

echo "== 1: key file and header behind $lead bytes of zeros"
truncate -s "$lead" "$work/key.txt"
cat "$source_dir/examples/key.txt" >>"$work/key.txt"
printf '%s%s' "$header" "$body" >"$work/small.txt"
"$quarvel" C id "$source_dir/examples/key.txt" "$work/small.enc" "$work/small.txt" \
  </dev/null >/dev/null
truncate -s "$lead" "$work/plain.txt"
cat "$work/small.txt" >>"$work/plain.txt"
run C id "$work/key.txt" "$work/plain.enc" "$work/plain.txt"
{ repeat_byte 0 "$lead"; cat "$work/small.enc"; } | cmp - "$work/plain.enc"
rm -f "$work/plain.txt"
run D id "$work/key.txt" "$work/plain.enc" "$work/plain.dec"
{ repeat_byte 0 "$lead"; printf '%s%s' "$header" "$printed"; } | cmp - "$work/plain.dec"
rm -f "$work/plain.enc" "$work/plain.dec" "$work/key.txt"
echo "  ok"

echo "== 2: a text of $lead characters"
printf '%s' "$header" >"$work/plain.txt"
truncate -s $((${#header} + lead)) "$work/plain.txt"
run C id "$source_dir/examples/key.txt" "$work/plain.enc" "$work/plain.txt"
rm -f "$work/plain.txt"
run D id "$source_dir/examples/key.txt" "$work/plain.enc" "$work/plain.dec"
{ printf '%s' "$header"; repeat_byte '|' "$lead"; } | cmp - "$work/plain.dec"
echo "  ok"

echo "large file check passed"
