#!/usr/bin/env bash
# The manual page and the README against the code:
# - every fixed text of a message that quarvel and quarvel_keys can write,
#   on the console or on standard error (the string literals of run/,
#   keyfile/, the role words and the run-time error line), stands in
#   man/quarvel.1 as the page reads when formatted;
# - every program that a command of the README starts is one the build
#   makes, and every option and subcommand the README gives a companion
#   program is one its --help names.
#
# Usage: manual_test.sh <build dir> <source dir>
set -euo pipefail
export LC_ALL=C

if [ $# -ne 2 ]; then
  echo "usage: $0 <build dir> <source dir>" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
read -ra emulator <<<"${QUARVEL_EMULATOR-}"
work=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-manual.XXXXXX")
trap 'rm -rf -- "$work"' EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The page as a reader sees it, in one line: no hyphenation, no line breaks
# inside paragraphs, every run of white space one blank.
if ! command -v groff >/dev/null 2>&1; then
  echo "FAIL: groff is needed to format the manual page (scripts/deps.sh installs it)" >&2
  exit 1
fi
groff -man -Tascii -rLL=4000n -rHY=0 -P-c -P-b -P-o -P-u "$source/man/quarvel.1" 2>/dev/null |
  tr -s ' \n\t' ' ' >"$work/page.txt"

cd "$source"
perl tests/tools/message_texts.pl run/*.cpp keyfile/*.cpp state/role_words.h io/io_error.cpp >"$work/texts.txt"
[ -s "$work/texts.txt" ] || fail "no message texts found in the code"
while IFS=$'\t' read -r file text; do
  grep -qF -- "$text" "$work/page.txt" ||
    fail "$file: the text \"$text\" is not in man/quarvel.1"
done <"$work/texts.txt"

# The README's commands: each program they start, with the options and the
# subcommand it is given there.
grep -oE '(^|[[:space:];&|({])(build/)?quarvel[a-z_]*( +[-a-zA-Z][-a-zA-Z]*)*' README.md |
  sed -E 's/^[[:space:];&|({]//' | sort -u >"$work/commands.txt"
[ -s "$work/commands.txt" ] || fail "the README starts no program"
while read -r program words; do
  name=${program#build/}
  if [ ! -x "$build/$name" ]; then
    # A bare name in the text is a program only when it is followed by
    # words of a command line; the names of the two main programs always are.
    [ "$program" != "$name" ] || [ -n "$words" ] || continue
    fail "the README runs $program, which the build does not make"
    continue
  fi
  [ -n "$words" ] || continue
  case $name in
    quarvel | quarvel_keys) continue ;; # no options: their parameters are positional
  esac
  "${emulator[@]}" "$build/$name" --help >"$work/help.txt" 2>&1 || true
  # A program with subcommands shows each in a usage line of its own.
  subcommands=$({ grep -oE "^(Usage:)? *$name [a-z][-a-z]*" "$work/help.txt" || true; } | awk '{print $NF}')
  first=1
  for word in $words; do
    case $word in
      --*)
        grep -qE -- "(^|[^-a-z])$word([^-a-z]|$)" "$work/help.txt" ||
          fail "the README gives $name the option $word, which its --help does not name"
        ;;
      -*) ;;
      *)
        if [ "$first" -eq 1 ] && [ -n "$subcommands" ] && ! grep -qx -- "$word" <<<"$subcommands"; then
          fail "the README gives $name the subcommand $word, which its --help does not name"
        fi
        ;;
    esac
    first=0
  done
done <"$work/commands.txt"

if [ "$failures" -ne 0 ]; then
  echo "manual_test: $failures failure(s)" >&2
  exit 1
fi
echo "manual_test: $(wc -l <"$work/texts.txt") message texts in the manual page, $(wc -l <"$work/commands.txt") README commands checked"
