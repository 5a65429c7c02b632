#!/usr/bin/env bash
# Writes the expected results of known-answer cases from the programs as they
# are built now: `stdout`, `status` and `out/` (every file that the run created
# or changed, byte for byte). A case folder holds `command` (the program name
# and its arguments, separated by blanks), `in/` (the files present before
# the run) and, optionally, `open_files` (the most descriptors the process may
# hold open). The run starts in a fresh folder holding a copy of `in/`, with
# standard input from /dev/null and no other descriptor than the standard
# three.
#
# Usage: bash tests/vectors/generate.sh BUILD_DIR CASE_DIR...
# Check every new expectation by hand before committing it: the test compares
# with the stored files only.
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 BUILD_DIR CASE_DIR..." >&2
  exit 2
fi
build=$(cd "$1" && pwd)
shift

for dir in "$@"; do
  dir=$(cd "$dir" && pwd)
  work=$(mktemp -d)
  if [ -d "$dir/in" ]; then cp -p "$dir/in/." "$work/" -r; fi
  read -r -a words <"$dir/command"
  status=0
  limit=unlimited
  if [ -f "$dir/open_files" ]; then read -r limit <"$dir/open_files"; fi
  (
    cd "$work"
    for fd in /proc/$BASHPID/fd/*; do
      fd=${fd##*/}
      if [ "$fd" -gt 2 ]; then eval "exec $fd>&-" 2>/dev/null || true; fi
    done
    ulimit -n "$limit"
    exec "$build/${words[0]}" "${words[@]:1}"
  ) </dev/null >"$dir/stdout" || status=$?
  echo "$status" >"$dir/status"
  rm -rf "$dir/out"
  mkdir "$dir/out"
  for file in "$work"/* "$work"/.[!.]*; do
    [ -f "$file" ] || continue
    name=$(basename "$file")
    if [ ! -f "$dir/in/$name" ] || ! cmp -s "$file" "$dir/in/$name"; then
      cp "$file" "$dir/out/$name"
    fi
  done
  rmdir "$dir/out" 2>/dev/null || true
  rm -rf "$work"
  echo "$(basename "$dir"): status $status"
done
