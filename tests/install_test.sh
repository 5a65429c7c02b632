#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a user gets:
# both programs and the three companion programs in bin/, their manual pages
# in share/man/man1, the installed quarvel enciphering and deciphering the
# example message, the usage line for --help, a message written with the
# installed companions, and manual pages that groff formats without warnings
# (and that mandoc's lint passes, where mandoc is installed), and man
# quarvel_keys opening the one page of both programs.
#
# Usage: install_test.sh <build dir> <source dir>
set -euo pipefail
export LC_ALL=C

if [ $# -ne 2 ]; then
  echo "usage: $0 <build dir> <source dir>" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
# A cross build's programs run under the emulator this names.
read -ra emulator <<<"${QUARVEL_EMULATOR-}"

work=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-install.XXXXXX")
trap 'rm -rf -- "$work"' EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

prefix="$work/prefix"
unset DESTDIR
if ! cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
  cat "$work/install.log" >&2
  echo "FAIL: cmake --install $build --prefix $prefix failed" >&2
  exit 1
fi

quarvel="$prefix/bin/quarvel"
quarvel_keys="$prefix/bin/quarvel_keys"
companions="quarvel_keygen quarvel_text quarvel_series"
pages="quarvel.1 quarvel_keys.1 quarvel_keygen.1 quarvel_text.1 quarvel_series.1"
for program in "$quarvel" "$quarvel_keys" $(printf "$prefix/bin/%s " $companions); do
  [ -x "$program" ] || fail "not installed as an executable: ${program#"$prefix"/}"
done
for page in $pages; do
  # The install rule for a page is made when the build folder is configured
  # and the page exists; a folder configured before the pages were added
  # needs another cmake run.
  [ -f "$prefix/share/man/man1/$page" ] ||
    fail "manual page not installed: share/man/man1/$page (re-run cmake on $build?)"
done
if [ "$failures" -ne 0 ]; then
  echo "install_test: $failures failure(s)" >&2
  exit 1
fi

# The round trip with the installed program, run as a script would run it.
run="$work/run"
mkdir "$run"
cp "$source/examples/key.txt" "$source/examples/message.txt" "$run/"
cd "$run"

status=0
"${emulator[@]}" "$quarvel" C 0815 key.txt cipher.txt message.txt </dev/null >console_c.txt || status=$?
[ "$status" -eq 0 ] || fail "quarvel C ended with exit status $status, expected 0"
cmp -s cipher.txt console_c.txt ||
  fail "the console of quarvel C does not show the cipher text as written to cipher.txt"

# The cipher text starts with the header ("HHHHH", a blank, ten groups of
# three letters and the byte after them, as the example writes it) and
# continues with capitals in groups of five; line ends are CR LF.
if [[ $(head -c 200 message.txt) =~ ^HHHHH(\ [A-Z]{3}){10}. ]]; then
  header=${BASH_REMATCH[0]}
else
  echo "FAIL: examples/message.txt does not start with a header of the expected form" >&2
  exit 1
fi
[ "$(head -c ${#header} cipher.txt)" = "$header" ] ||
  fail "cipher.txt does not start with the message header"
body=$(tail -c +$((${#header} + 1)) cipher.txt | tr -d '\r\n ')
if [ -z "$body" ] || [ -n "$(printf '%s' "$body" | tr -d '[:upper:]')" ] || [ $((${#body} % 5)) -ne 0 ]; then
  fail "the cipher text after the header is not groups of five capitals"
fi
if grep -q $'[^\r]$' <(head -n -1 cipher.txt); then
  fail "a line of cipher.txt does not end with CR LF"
fi

status=0
"${emulator[@]}" "$quarvel" D 0815 key.txt cipher.txt plain.txt </dev/null >console_d.txt || status=$?
[ "$status" -eq 0 ] || fail "quarvel D ended with exit status $status, expected 0"
cmp -s plain.txt console_d.txt ||
  fail "the console of quarvel D does not show the text as written to plain.txt"

# Deciphered: the message with every "*" as CR LF and "<", "#", "%" left out.
sed -e 's/[<#%]//g' -e 's/\*/\r\n/g' message.txt | tr '[:lower:]' '[:upper:]' >expected.txt
if ! cmp -s expected.txt plain.txt; then
  fail "the deciphered text differs from the message"
  diff <(od -c expected.txt) <(od -c plain.txt) | head -20 >&2 || true
fi

# The installed quarvel_keys makes the same cipher text, and its decipher run
# uses the same key characters as its encipher run.
status=0
"${emulator[@]}" "$quarvel_keys" C 0815 key.txt cipher_k.txt message.txt add.bin all.bin </dev/null >/dev/null ||
  status=$?
[ "$status" -eq 0 ] || fail "quarvel_keys C ended with exit status $status, expected 0"
cmp -s cipher.txt cipher_k.txt || fail "quarvel_keys C and quarvel C give different cipher texts"
: >add_d.bin
status=0
"${emulator[@]}" "$quarvel_keys" D 0815 key.txt cipher_k.txt plain_k.txt add_d.bin all_d.bin </dev/null >/dev/null ||
  status=$?
[ "$status" -eq 0 ] || fail "quarvel_keys D ended with exit status $status, expected 0"
cmp -s expected.txt plain_k.txt || fail "quarvel_keys D: the deciphered text differs from the message"
if ! cmp -s add.bin add_d.bin || ! cmp -s all.bin all_d.bin; then
  fail "quarvel_keys: the key series of the decipher run differ from those of the encipher run"
fi
[ -s add.bin ] || fail "quarvel_keys C wrote an empty additive series"

# No options: --help is a mode letter other than C and D.
check_usage() {
  local program=$1 expected=$2 status=0
  "${emulator[@]}" "$prefix/bin/$program" --help </dev/null >usage.txt || status=$?
  [ "$status" -eq 2 ] || fail "$program --help ended with exit status $status, expected 2"
  [ "$(cat usage.txt)" = "$expected"$'\r' ] ||
    fail "$program --help wrote '$(cat -v usage.txt)', expected the usage line"
}
check_usage quarvel "Aufruf: quarvel C|D Kennung Schluesseldatei Geheimtextdatei Klartextdatei"
check_usage quarvel_keys "Aufruf: quarvel_keys C|D Kennung Schluesseldatei Geheimtextdatei \
Klartextdatei Additionsreihe-Datei Alle-Additionsdatei"

# The installed companions follow the usual conventions and write a message:
# a new key, a header and an encoded text that the installed quarvel takes
# there and back.
for program in $companions; do
  status=0
  "${emulator[@]}" "$prefix/bin/$program" --version >version.txt 2>&1 || status=$?
  [ "$status" -eq 0 ] && grep -q "^$program (quarvel) " version.txt ||
    fail "$program --version ended with status $status: $(cat version.txt)"
done
status=0
"${emulator[@]}" "$prefix/bin/quarvel_keygen" new_key.txt || status=$?
[ "$status" -eq 0 ] || fail "quarvel_keygen new_key.txt ended with exit status $status"
{
  "${emulator[@]}" "$prefix/bin/quarvel_keygen" --header
  printf 'Treffen am 3.4. um 14:30 Uhr\n' | "${emulator[@]}" "$prefix/bin/quarvel_text" encode
} >letter.txt || fail "quarvel_keygen --header or quarvel_text encode failed"
"${emulator[@]}" "$quarvel" C 1 new_key.txt letter.cip letter.txt </dev/null >/dev/null ||
  fail "quarvel C does not take the new key and the encoded letter"
"${emulator[@]}" "$quarvel" D 1 new_key.txt letter.cip letter.back </dev/null >/dev/null ||
  fail "quarvel D does not take the new key"
[ "$("${emulator[@]}" "$prefix/bin/quarvel_text" decode letter.back)" = "TREFFEN AM 3.4. UM 14:30 UHR" ] ||
  fail "the letter written with the installed companions does not come back"

# quarvel_keys is documented on the page of quarvel: its page is a link to
# that one, which man follows.
alias_pages=""
formatted_pages=""
for page in $pages; do
  if [ "$(head -c 4 "$prefix/share/man/man1/$page")" = ".so " ]; then
    target=$(sed -n '1s/^\.so //p' "$prefix/share/man/man1/$page")
    [ -f "$prefix/share/man/$target" ] || fail "$page links to $target, which is not installed"
    alias_pages="$alias_pages $page"
  else
    formatted_pages="$formatted_pages $page"
  fi
done
[ "$alias_pages" = " quarvel_keys.1" ] || fail "expected quarvel_keys.1 alone to link to another page"
if command -v man >/dev/null 2>&1; then
  if ! MANWIDTH=80 man -P cat -M "$prefix/share/man" quarvel_keys >"$work/man.txt" 2>"$work/man.log" ||
    ! grep -q "quarvel, quarvel_keys - encipher" "$work/man.txt" ||
    ! grep -q "KEY SERIES FILES" "$work/man.txt"; then
    cat "$work/man.log" >&2
    fail "man quarvel_keys does not show the page of quarvel and quarvel_keys"
  fi
else
  echo "install_test: man not found, the link of quarvel_keys not followed"
fi

# The installed manual pages format without warnings.
pages=$formatted_pages
if command -v mandoc >/dev/null 2>&1; then
  for page in $pages; do
    if ! mandoc -T lint "$prefix/share/man/man1/$page" >"$work/mandoc.log" 2>&1 ||
      [ -s "$work/mandoc.log" ]; then
      cat "$work/mandoc.log" >&2
      fail "mandoc -T lint reports problems in $page"
    fi
  done
else
  echo "install_test: mandoc not found, manual pages not linted with it"
fi
if command -v groff >/dev/null 2>&1; then
  for page in $pages; do
    if ! groff -man -ww -z "$prefix/share/man/man1/$page" >"$work/groff.log" 2>&1 ||
      [ -s "$work/groff.log" ]; then
      cat "$work/groff.log" >&2
      fail "groff -man -ww reports problems in $page"
    fi
  done
else
  echo "install_test: groff not found, manual pages not linted"
fi

if [ "$failures" -ne 0 ]; then
  echo "install_test: $failures failure(s)" >&2
  exit 1
fi
echo "install_test: installed programs and manual pages are fine"
