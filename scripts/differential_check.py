#!/usr/bin/env python3
"""Differential check of two builds of quarvel and quarvel_keys.

Usage: python3 scripts/differential_check.py OLD_BUILD NEW_BUILD COUNT SEED [options]

Generates COUNT random cases from SEED (key files, message headers, plain
texts, cipher texts and their mutations, file errors, both programs, both
modes) and runs every case in a fresh temporary folder, with standard input
from /dev/null and under `timeout`: once with OLD_BUILD's programs and once
with NEW_BUILD's per instruction-set tier (QUARVEL_ISA = portable, avx2,
avx512). The console output (standard output), the exit status and every file
in the folder must be byte-identical to OLD_BUILD's; standard error is not
compared.

A few kinds of case hold behaviour that is meant to differ between the
builds and are checked against their own rule instead:

  refused_byte     a plain text holding a byte of 32 or more without a
                   teleprinter code: NEW_BUILD must end with status 4 in every
                   tier, leave every existing file as it was and leave no
                   file that did not exist before;
  keys_no_series   quarvel_keys D with an empty additive-series name: NEW_BUILD
                   must end with status 1 and change nothing;
  console_input    the key file or the source given by an empty name (standard
                   input, here /dev/null): NEW_BUILD compared with OLD_BUILD,
                   a difference is listed apart as one to look at.

And every run that ends in a report (status 1, 3 or 4) removes the files
that its opens created, where OLD_BUILD may have left them behind, empty:
OLD_BUILD's result is compared without those files.

Prints "N passed, M failed" and the first few differences; the folders of
the failed cases (inputs, command, each build's console output, status and
files) are kept under --keep (default: differential_failures in the current
folder).

Options: --jobs N (default 2), --keep DIR, --timeout SECONDS (default 60),
--tiers LIST (default portable,avx2,avx512), --show N (default 5),
--only KIND (cases of one kind: encipher, decipher, file_error, mode,
refused_byte, keys_no_series, console_input, large).
"""

import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile
from concurrent.futures import ProcessPoolExecutor

LETTERS = "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
LETTER_CODES = [24, 19, 14, 18, 16, 22, 11, 5, 12, 26, 30, 9, 7, 6, 3, 13, 29, 10, 20, 1, 28, 15,
                25, 23, 21, 17]
FIGURES = "-?:38().,9014\"57=2/6+@"
CONTROLS = "|< *#%"
TABLE_BYTES = set((LETTERS + LETTERS.lower() + FIGURES + CONTROLS).encode())
NO_CODE_BYTES = [b for b in range(32, 256) if b not in TABLE_BYTES]
PAIR_SECONDS = "TOHLSJK"

STRUCTURE_WORD = b"STRUKTURSCHLUESSEL"
BASIC_WORD = b"GRUNDSCHLUESSEL"
MARKER = b"HHHHH"


# ---------------------------------------------------------------- key files


def letter_value(letter):
    code = LETTER_CODES[LETTERS.index(letter.upper())]
    return ((code << 3) ^ code) & 255


def matrix_mask(basic, message):
    """The bits that the two letter keys add to the structure digits."""
    groups_b = list(basic) + list(basic[1:7])
    groups_m = list(message) + list(message[0:6])
    mask = []
    for r in range(8):
        for c in range(16):
            mask.append(((letter_value(groups_b[c]) ^ letter_value(groups_m[c])) >> r) & 1)
    return mask


def separator(rng, avoid):
    """A run of bytes none of which is in `avoid`."""
    kinds = [b" ", b"\r\n", b"\n", b"\t", b"  ", b"-", b".", b",;", b"\x00", b"\xc3\xa4", b"/"]
    choice = rng.choice(kinds)
    if rng.random() < 0.2:
        choice = bytes(rng.choice([b for b in range(256) if b not in avoid])
                       for _ in range(rng.randint(1, 4)))
    return bytes(b for b in choice if b not in avoid) or b" "


def spread(rng, chars, avoid, style, adjacent_last=True):
    """Characters laid out with separators; the last two stand side by side
    unless `adjacent_last` is false."""
    out = bytearray()
    n = len(chars)
    for i, ch in enumerate(chars):
        out += ch
        if i == n - 1:
            break
        if i == n - 2:
            if not adjacent_last:
                out += separator(rng, avoid)
            continue
        if style == "lines16" and (i + 1) % 16 == 0:
            out += b"\r\n" if rng.random() < 0.8 else b"\n"
        elif style == "groups" and (i + 1) % 5 == 0:
            out += b" "
        elif style == "random" and rng.random() < 0.3:
            out += separator(rng, avoid)
    return bytes(out)


def key_file(rng, message_key, clean=False):
    """A key file (bytes), a short note of how it was made, and the basic key.
    With `clean`, no junk byte can hide a keyword (by ending with its start)."""
    damage = "none" if rng.random() < 0.7 else rng.choice([
        "no_structure", "no_basic", "lower_keyword", "lower_basic", "tenth_not_letter",
        "structure_not_adjacent", "no_separator", "doubled_first", "second_occurrence",
        "ends_in_structure", "ends_in_basic", "keyword_at_end", "empty", "shifts", "shifts",
        "foreign_between", "junk_around"])
    basic = "".join(rng.choice(LETTERS) for _ in range(10))
    if damage == "lower_basic" or rng.random() < 0.1:
        basic = "".join(c.lower() if rng.random() < 0.5 else c for c in basic)
    if message_key and len(set(message_key.upper())) == 1 and rng.random() < 0.7:
        # The same letter in both keys adds nothing to the structure digits:
        # with a last column of equal digits and a weight outside the window
        # no shift ever reaches it.
        damage = "no_window"
        basic = message_key.upper()
        last = rng.choice("01")
        weight = rng.randint(0, 32) if last == "0" else rng.randint(96, 120)
        inner = [1 if i < weight - (8 if last == "1" else 0) else 0 for i in range(120)]
        rng.shuffle(inner)
        digits = []
        for r in range(8):
            digits += [str(b) for b in inner[15 * r:15 * r + 15]] + [last]
    elif damage == "shifts" and message_key:
        # A structure key whose first matrix lies outside the weight window,
        # so that the rows are shifted (and may never reach the window).
        weight = rng.choice([rng.randint(0, 32), rng.randint(96, 128)])
        wanted = [1] * weight + [0] * (128 - weight)
        rng.shuffle(wanted)
        if rng.random() < 0.5:
            basic = message_key.upper()
        mask = matrix_mask(basic, message_key)
        digits = [str(w ^ m) for w, m in zip(wanted, mask)]
    else:
        digits = [rng.choice("01") for _ in range(128)]
    if rng.random() < 0.05:
        digits[-1] = chr(rng.choice([b for b in range(33, 127)]))
    style = rng.choice(["lines16", "lines16", "groups", "random", "none"])
    structure = spread(rng, [d.encode() for d in digits], set(b"01"), style,
                       damage != "structure_not_adjacent")
    letter_avoid = set((LETTERS + LETTERS.lower()).encode())
    basic_chars = [c.encode() for c in basic]
    if damage == "tenth_not_letter":
        basic_chars[9] = bytes([rng.choice([b for b in range(256) if b not in letter_avoid])])
    basic_text = spread(rng, basic_chars, letter_avoid,
                        rng.choice(["groups", "random", "none"]))
    if damage == "foreign_between":
        # Letters among the digits and digits among the letters, never
        # between the last two characters of a part.
        structure = bytearray(structure)
        for _ in range(rng.randint(1, 6)):
            structure.insert(rng.randint(0, len(structure) - 2), ord(rng.choice(LETTERS)))
        basic_text = bytearray(basic_text)
        for _ in range(rng.randint(1, 3)):
            basic_text.insert(rng.randint(0, len(basic_text) - 2), ord(rng.choice("0123456789")))
        structure, basic_text = bytes(structure), bytes(basic_text)

    def after_word():
        if damage == "no_separator":
            return b""
        return rng.choice([b" ", b"\r\n", b"\n", b"\t", b":"])

    s_word, b_word = STRUCTURE_WORD, BASIC_WORD
    if damage == "lower_keyword":
        if rng.random() < 0.5:
            s_word = s_word.lower()
        else:
            b_word = b_word.lower()
    s_section = s_word + after_word() + structure
    b_section = b_word + after_word() + basic_text
    if damage == "doubled_first":
        b_section = b"G" + b_section
    if damage == "no_structure":
        s_section = b""
    if damage == "no_basic":
        b_section = b""
    junk = lambda: rng.choice([b"", b"\r\n", b"Schluessel fuer heute\r\n",
                               bytes(rng.randrange(256) for _ in range(rng.randint(0, 40)))]) + (
                                   b"\r\n" if clean else b"")
    parts = [s_section, b_section]
    if rng.random() < 0.3:
        parts.reverse()
    text = junk() + parts[0] + (b"\r\n" if rng.random() < 0.8 else junk()) + parts[1] + (
        b"\r\n" if rng.random() < 0.8 else junk())
    if damage == "junk_around":
        text = junk() + junk() + text + junk()
    if damage == "second_occurrence":
        other = "".join(rng.choice(LETTERS) for _ in range(10)).encode()
        text += BASIC_WORD + b" " + other + b"\r\n" + STRUCTURE_WORD + b"\r\n" + b"1" * 128
    if damage == "ends_in_structure":
        start = text.find(STRUCTURE_WORD)
        if start >= 0:
            text = text[:start + len(STRUCTURE_WORD) + rng.randint(1, 130)]
    if damage == "ends_in_basic":
        start = text.find(BASIC_WORD)
        if start >= 0:
            text = text[:start + len(BASIC_WORD) + rng.randint(1, 10)]
    if damage == "keyword_at_end":
        # A keyword ending with the file's last byte, sometimes as its only
        # occurrence.
        word = rng.choice([BASIC_WORD, STRUCTURE_WORD])
        if rng.random() < 0.5:
            text = text.replace(word, b"", 1)
        text += word
    if damage == "empty":
        text = b""
    return text, damage, basic


# ------------------------------------------------------------------ headers


def header(rng, uniform=False):
    """A message header (bytes), its note, and the message key it carries;
    with `uniform`, one letter ten times."""
    damage = "none" if rng.random() < 0.7 else rng.choice([
        "broken_group", "mixed_case", "text_before", "no_separator", "six_h", "no_marker",
        "blocks_of_five", "lower_groups", "odd_separators", "ends_in_header"])
    key = "".join(rng.choice(LETTERS) for _ in range(10))
    if uniform:
        key = rng.choice(LETTERS) * 10
    if damage == "lower_groups":
        key = key.lower()
    groups = [c * 3 for c in key]
    if damage == "broken_group":
        g = rng.randrange(10)
        groups[g] = groups[g][:2] + rng.choice([c for c in LETTERS if c != key[g].upper()])
    if damage == "mixed_case":
        g = rng.randrange(10)
        groups[g] = groups[g][0] + groups[g][1].swapcase() + groups[g][2]
    if damage == "blocks_of_five":
        letters = "".join(groups)
        body = " ".join(letters[i:i + 5] for i in range(0, 30, 5))
    elif damage == "odd_separators":
        body = ""
        for i, g in enumerate(groups):
            body += g
            if i < 9:
                body += rng.choice([" ", "  ", "\r\n", "-", "1", "\t", "|", "*", "#"])
    else:
        body = " ".join(groups)
    sep = {"no_separator": "", "six_h": "H"}.get(damage, rng.choice([" ", " ", "\r\n", "\n"]))
    text = "HHHHH" + sep + body
    if damage == "text_before":
        text = rng.choice(["ZZZ ", "ABCD\r\n", "hallo ", "#123% ", "Hh "]) + text
    if damage == "no_marker":
        text = body
    data = text.encode()
    if damage == "ends_in_header":
        data = data[:rng.randint(0, len(data))]
    message_key = key if damage in ("none", "text_before", "blocks_of_five", "lower_groups",
                                    "odd_separators") else ""
    return data, damage, message_key


# -------------------------------------------------------------- plain texts


def plain_body(rng, length):
    """Plain text from the table's characters and bytes below 32."""
    style = rng.choice(["letters", "mixed", "figures", "controls", "lowbytes", "pairs"])
    letters = LETTERS.encode()
    lower = LETTERS.lower().encode()
    figures = FIGURES.encode()
    controls = CONTROLS.encode()
    low = bytes(range(32))
    # Letters whose codes the cipher text writes as pairs, and their figures.
    pair_chars = b"YBQ" + b"|< *#%" + b"6?1"
    pools = {
        "letters": (letters + b" " * 5 + b"*<", None),
        "mixed": (letters + lower + figures + controls + b"  ", None),
        "figures": (figures + b"#%#% ", None),
        "controls": (controls * 3 + letters, None),
        "lowbytes": (low + letters + controls, None),
        "pairs": (pair_chars * 4 + letters, None),
    }
    pool = pools[style][0]
    if length > 20000:
        # Large texts in runs of one style, cheaply.
        chunk = bytes(rng.choice(pool) for _ in range(4096))
        out = bytearray()
        while len(out) < length:
            start = rng.randrange(4096)
            out += chunk[start:] + chunk[:start]
            if rng.random() < 0.3:
                out += bytes(rng.choice(low + controls) for _ in range(rng.randint(1, 8)))
        return bytes(out[:length])
    return bytes(rng.choice(pool) for _ in range(length))


def body_length(rng):
    r = rng.random()
    if r < 0.05:
        return rng.randint(0, 3)
    if r < 0.5:
        return rng.randint(0, 200)
    if r < 0.95:
        return rng.randint(0, 3000)
    return rng.randint(3000, 12000)


# ------------------------------------------------------------- cipher texts


def mutate_cipher(rng, cipher, header_len):
    """A mutation of a valid cipher text, and its name."""
    kind = rng.choice(["none", "none", "lower", "broken_group", "missing_fill",
                       "extra_separators", "pair_without_entry", "truncated", "swap_letters",
                       "junk_after", "lower_all"])
    data = bytearray(cipher)
    body = range(header_len, len(data))
    letter_places = [i for i in body if 65 <= data[i] <= 90]
    if kind == "lower" and letter_places:
        for i in rng.sample(letter_places, min(len(letter_places), rng.randint(1, 3))):
            data[i] += 32
    elif kind == "lower_all":
        for i in body:
            if 65 <= data[i] <= 90:
                data[i] += 32
    elif kind == "broken_group" and letter_places:
        i = rng.choice(letter_places)
        data[i:i] = bytes([rng.choice([32, 49, 45, 13, 10, 0, 196])])
    elif kind == "missing_fill":
        while len(data) > header_len and data[-1] == ord("Y"):
            data.pop()
        if rng.random() < 0.5 and len(data) > header_len:
            data.pop()
    elif kind == "extra_separators":
        places = [i for i in body if data[i] in (32, 13)]
        for i in sorted(rng.sample(places, min(len(places), rng.randint(1, 5))), reverse=True):
            data[i:i] = rng.choice([b" ", b"\r\n", b"\t", b"  ", b"-", b"1", b"\n\n", b"\xe4"])
    elif kind == "pair_without_entry":
        ys = [i for i in letter_places if data[i] == ord("Y") and i + 1 < len(data)
              and 65 <= data[i + 1] <= 90]
        if ys:
            i = rng.choice(ys)
            data[i + 1] = ord(rng.choice([c for c in LETTERS if c not in PAIR_SECONDS]))
    elif kind == "truncated" and len(data) > 0:
        data = data[:rng.randint(max(0, header_len - 5), len(data))]
    elif kind == "swap_letters" and letter_places:
        for i in rng.sample(letter_places, min(len(letter_places), rng.randint(1, 10))):
            data[i] = ord(rng.choice(LETTERS))
    elif kind == "junk_after":
        data += rng.choice([b"\r\n", b" ", b"ABC", b"\x1a", b"\r\nENDE\r\n"])
    return bytes(data), kind


def random_cipher(rng):
    groups = []
    for _ in range(rng.randint(0, 60)):
        groups.append("".join(rng.choice(LETTERS) for _ in range(5)))
    out = ""
    for i, g in enumerate(groups):
        out += g
        if i + 1 < len(groups):
            out += "\r\n" if (i + 1) % 10 == 4 else " "
    return out.encode()


# -------------------------------------------------------------------- cases


class Case:
    def __init__(self, number, kind):
        self.number = number
        self.kind = kind
        self.program = "quarvel"
        self.args = []
        self.files = {}  # name -> bytes
        self.modes = {}  # name -> permission bits
        self.dirs = []
        self.note = ""


def encipher_with(build, key, plain, timeout):
    """The old build's cipher text for a plain text, or None."""
    with tempfile.TemporaryDirectory(prefix="qv_gen_") as work:
        with open(os.path.join(work, "k"), "wb") as f:
            f.write(key)
        with open(os.path.join(work, "p"), "wb") as f:
            f.write(plain)
        try:
            r = subprocess.run([os.path.join(build, "quarvel"), "C", "g", "k", "c", "p"],
                               cwd=work, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, timeout=timeout)
        except subprocess.TimeoutExpired:
            return None
        if r.returncode != 0:
            return None
        with open(os.path.join(work, "c"), "rb") as f:
            return f.read()


KINDS = ["encipher", "decipher", "file_error", "mode", "refused_byte", "keys_no_series",
         "console_input", "large"]


def make_case(number, seed, old_build, timeout, only=None):
    rng = random.Random(f"{seed}:{number}")
    kind = rng.choices(KINDS, weights=[40, 40, 6, 2, 5, 1, 2, 1])[0]
    if only:
        kind = only
    case = Case(number, kind)
    keys = rng.random() < 0.4
    case.program = "quarvel_keys" if keys else "quarvel"
    hdr, hdr_note, message_key = header(rng, rng.random() < 0.04)
    valid_only = kind in ("refused_byte", "large", "keys_no_series")
    if valid_only:
        message_key = "".join(rng.choice(LETTERS) for _ in range(10))
        hdr = ("HHHHH " + " ".join(c * 3 for c in message_key)).encode()
        hdr_note = "none"
    key, key_note, basic = key_file(rng, message_key, valid_only)
    while valid_only and key_note != "none":
        key, key_note, basic = key_file(rng, message_key, valid_only)
    case.note = f"header={hdr_note} key={key_note}"
    case.files["key.txt"] = key

    if kind == "large":
        # Up to 3 MiB: from 1 MiB on, the run takes its second thread.
        body = plain_body(rng, rng.randint(100_000, 3_200_000))
    elif kind == "refused_byte":
        body = bytearray(plain_body(rng, body_length(rng) + 1))
        # The byte right after the last message-key letter still belongs
        # to the header.
        for _ in range(rng.randint(1, 3)):
            body.insert(rng.randint(1, len(body)), rng.choice(NO_CODE_BYTES))
        body = bytes(body)
    else:
        body = plain_body(rng, body_length(rng))
    plain = hdr + body

    mode = "C"
    if kind == "decipher" or (kind in ("large", "keys_no_series", "file_error", "console_input")
                              and rng.random() < 0.5):
        mode = "D"
    if kind == "keys_no_series":
        mode = "D"
        case.program = "quarvel_keys"
    if mode == "C":
        case.files["msg.txt"] = plain
        if kind == "refused_byte" or rng.random() < 0.3:
            case.files["msg.cip"] = bytes(rng.randrange(256) for _ in range(rng.randint(0, 300)))
        case.note += f" body={len(body)}"
    else:
        cipher = encipher_with(old_build, key, plain, timeout) if hdr_note == "none" and \
            key_note in ("none", "lower_basic", "shifts", "structure_not_adjacent",
                         "foreign_between", "junk_around", "second_occurrence",
                         "doubled_first", "no_separator") else None
        if cipher is None:
            cipher = hdr + random_cipher(rng)
            mutation = "random"
        else:
            mutation = "none"
            if kind == "decipher" or (kind == "large" and rng.random() < 0.6):
                cipher, mutation = mutate_cipher(rng, cipher, len(hdr))
                if rng.random() < 0.2:
                    cipher, second = mutate_cipher(rng, cipher, len(hdr))
                    mutation += "+" + second
        case.files["msg.cip"] = cipher
        if rng.random() < 0.3:
            case.files["msg.txt"] = bytes(rng.randrange(256) for _ in range(rng.randint(0, 300)))
        case.note += f" cipher={mutation} len={len(cipher)}"
    names = {"key": "key.txt", "cip": "msg.cip", "plain": "msg.txt", "add": "add.bin",
             "all": "all.bin"}
    if case.program == "quarvel_keys":
        if mode == "D" or rng.random() < 0.3:
            case.files["add.bin"] = bytes(rng.randrange(32) for _ in range(rng.randint(0, 5000)))
        if rng.random() < 0.3:
            case.files["all.bin"] = bytes(rng.randrange(256) for _ in range(rng.randint(0, 500)))
    mode_word = mode
    if kind == "mode":
        mode_word = rng.choice(["c", "d", "Cipher", "dx", "X", "", "1", "e", " C"])
    elif rng.random() < 0.1:
        mode_word = rng.choice([mode.lower(), mode + "ZZ"])
    ident = "".join(rng.choice(LETTERS + "0123456789 ") for _ in range(rng.randint(0, 30)))

    if kind == "file_error":
        error = rng.choice(["missing_source", "missing_key", "target_dir_missing",
                            "target_is_source", "target_is_key", "both_missing",
                            "target_is_folder", "long_name", "series_is_key",
                            "series_is_target", "all_is_series", "missing_series",
                            "readonly_target", "target_console"])
        case.note += f" error={error}"
        source = "plain" if mode == "C" else "cip"
        target = "cip" if mode == "C" else "plain"
        if error in ("missing_source", "both_missing"):
            case.files.pop(names[source], None)
            names[source] = "nowhere.txt"
        if error in ("missing_key", "both_missing"):
            case.files.pop("key.txt", None)
            names["key"] = "nokey.txt"
        if error == "target_dir_missing":
            names[target] = "nodir/out.txt"
        if error == "target_is_source":
            names[target] = names[source]
        if error == "target_is_key":
            names[target] = names["key"]
        if error == "target_is_folder":
            case.dirs.append("folder")
            names[target] = "folder"
        if error == "long_name":
            long = "n" * 70 + ".txt"
            case.files[long] = case.files.pop(names[source], b"")
            names[source] = long
            names[target] = "t" * 65
        if error == "series_is_key":
            names["add" if rng.random() < 0.5 else "all"] = names["key"]
        if error == "series_is_target":
            names["add" if rng.random() < 0.5 else "all"] = names[target]
        if error == "all_is_series":
            names["all"] = names["add"]
            case.files.setdefault("add.bin", b"\x01\x02")
        if error == "missing_series":
            case.files.pop("add.bin", None)
        if error == "readonly_target":
            case.files.setdefault(names[target], b"old content\r\n")
            case.modes[names[target]] = 0o444
        if error == "target_console":
            names[target] = ""
    if kind == "console_input":
        which = rng.choice(["key", "plain" if mode == "C" else "cip", "both"])
        if which in ("key", "both"):
            names["key"] = ""
        if which != "key":
            names["plain" if mode == "C" else "cip"] = ""
        case.note += f" console={which}"
    if kind == "keys_no_series":
        names["add"] = ""

    args = [mode_word, ident, names["key"], names["cip"], names["plain"]]
    if case.program == "quarvel_keys":
        args += [names["add"], names["all"]]
        if kind == "file_error" and rng.random() < 0.1:
            args = args[:5]
    case.args = args
    if case.program == "quarvel_keys" and mode_word[:1].upper() == "D" and \
            (len(args) < 6 or args[5] == ""):
        case.kind = "keys_no_series"
    return case


# ------------------------------------------------------------------ running


def snapshot(folder):
    """Every file's bytes (a note for what is no regular file) and mode."""
    files = {}
    modes = {}
    for root, dirs, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            rel = os.path.relpath(path, folder)
            modes[rel] = oct(os.lstat(path).st_mode)
            if os.path.isfile(path) and not os.path.islink(path):
                with open(path, "rb") as f:
                    files[rel] = f.read()
            else:
                files[rel] = "<not a regular file>"
        for name in dirs:
            files[os.path.relpath(os.path.join(root, name), folder) + "/"] = "<folder>"
    return files, modes


def run_case(case, build, tier, timeout):
    work = tempfile.mkdtemp(prefix="qv_run_")
    try:
        folder = os.path.join(work, "case")
        scratch = os.path.join(work, "tmp")
        os.mkdir(folder)
        os.mkdir(scratch)
        for d in case.dirs:
            os.mkdir(os.path.join(folder, d))
        for name, data in case.files.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        for name, mode in case.modes.items():
            os.chmod(os.path.join(folder, name), mode)
        env = {k: v for k, v in os.environ.items() if k != "QUARVEL_ISA"}
        env["TMPDIR"] = scratch
        if tier:
            env["QUARVEL_ISA"] = tier
        try:
            r = subprocess.run(["timeout", str(timeout), os.path.join(build, case.program)]
                               + case.args, cwd=folder, env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            out, status = r.stdout, r.returncode
        except OSError as e:
            out, status = str(e).encode(), -1
        files, modes = snapshot(folder)
        leftover = sorted(os.listdir(scratch))
        return {"stdout": out, "status": status, "files": files, "modes": modes,
                "leftover": leftover}
    finally:
        for root, dirs, names in os.walk(work):
            for d in dirs:
                os.chmod(os.path.join(root, d), 0o755)
        shutil.rmtree(work, ignore_errors=True)


def first_difference(a, b):
    n = min(len(a), len(b))
    for i in range(n):
        if a[i] != b[i]:
            return i
    return n


def describe_difference(ref, got):
    """A list of what differs between two results (empty when equal)."""
    out = []
    if ref["status"] != got["status"]:
        out.append(f"status {ref['status']} -> {got['status']}")
    if ref["stdout"] != got["stdout"]:
        i = first_difference(ref["stdout"], got["stdout"])
        out.append(f"stdout differs at byte {i} (lengths {len(ref['stdout'])}, "
                   f"{len(got['stdout'])}): {ref['stdout'][i:i + 24]!r} -> "
                   f"{got['stdout'][i:i + 24]!r}")
    for name in sorted(set(ref["files"]) | set(got["files"])):
        a, b = ref["files"].get(name), got["files"].get(name)
        if a == b:
            continue
        if a is None or b is None:
            out.append(f"file {name}: {'missing' if b is None else 'extra'}")
        elif isinstance(a, str) or isinstance(b, str):
            out.append(f"file {name}: {a if isinstance(a, str) else 'file'} -> "
                       f"{b if isinstance(b, str) else 'file'}")
        else:
            i = first_difference(a, b)
            out.append(f"file {name} differs at byte {i} (lengths {len(a)}, {len(b)})")
    for name in sorted(set(ref["modes"]) & set(got["modes"])):
        if ref["modes"][name] != got["modes"][name]:
            out.append(f"file {name}: mode {ref['modes'][name]} -> {got['modes'][name]}")
    if got["leftover"]:
        out.append(f"left in TMPDIR: {got['leftover']}")
    return out


# The statuses of a report: a file did not open, the key or the text was
# refused. Such a run removes the files its opens created.
REPORT_STATUSES = (1, 3, 4)


def check_refusal(case, got, status):
    """A run that must refuse with `status`, change no file and leave none."""
    out = []
    if got["status"] != status:
        out.append(f"status {got['status']}, expected {status}")
    for name, data in got["files"].items():
        before = case.files.get(name)
        if before is None and name.rstrip("/") not in case.dirs:
            out.append(f"file {name} created with {len(data)} bytes")
        elif before is not None and before != data:
            out.append(f"file {name} changed")
    for name in case.files:
        if name not in got["files"]:
            out.append(f"file {name} removed")
    return out


def without_created_files(case, result):
    """A report's result as the new builds give it: the earlier builds left
    the files that the run's opens created behind, empty; now they are
    removed."""
    files = {name: data for name, data in result["files"].items()
             if name in case.files or name.rstrip("/") in case.dirs or data != b""}
    modes = {name: mode for name, mode in result["modes"].items() if name in files}
    return dict(result, files=files, modes=modes)


def check_case(job):
    case_number, seed, old_build, new_build, tiers, timeout, only = job
    case = make_case(case_number, seed, old_build, timeout, only)
    results = {}
    problems = {}
    if case.kind in ("refused_byte", "keys_no_series"):
        status = 4 if case.kind == "refused_byte" else 1
        for tier in tiers:
            results[tier] = run_case(case, new_build, tier, timeout)
            p = check_refusal(case, results[tier], status)
            if tier != tiers[0]:
                p += [f"against {tiers[0]}: {d}"
                      for d in describe_difference(results[tiers[0]], results[tier])]
            if p:
                problems[tier] = p
    else:
        results["old"] = run_case(case, old_build, None, timeout)
        expected = results["old"]
        if expected["status"] in REPORT_STATUSES:
            expected = without_created_files(case, expected)
        for tier in tiers:
            results[tier] = run_case(case, new_build, tier, timeout)
            p = describe_difference(expected, results[tier])
            if p:
                problems[tier] = p
    summary = {
        "number": case.number, "kind": case.kind, "program": case.program,
        "mode": case.args[0][:1].upper() if case.args[0] else "", "note": case.note,
        "args": case.args, "problems": problems,
        "status": {k: v["status"] for k, v in results.items()},
    }
    if problems:
        summary["case"] = case
        summary["results"] = results
    return summary


def keep_case(keep, summary):
    folder = os.path.join(keep, f"case_{summary['number']}")
    shutil.rmtree(folder, ignore_errors=True)
    case = summary["case"]
    os.makedirs(os.path.join(folder, "in"))
    for name, data in case.files.items():
        path = os.path.join(folder, "in", name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    with open(os.path.join(folder, "command"), "w") as f:
        f.write(" ".join([case.program] + [repr(a) for a in case.args]) + "\n")
        f.write(f"kind={case.kind} {case.note} modes={case.modes} dirs={case.dirs}\n")
    with open(os.path.join(folder, "differences"), "w") as f:
        for tier, lines in summary["problems"].items():
            for line in lines:
                f.write(f"{tier}: {line}\n")
    for run, result in summary["results"].items():
        base = os.path.join(folder, run)
        os.makedirs(os.path.join(base, "out"))
        with open(os.path.join(base, "stdout"), "wb") as f:
            f.write(result["stdout"])
        with open(os.path.join(base, "status"), "w") as f:
            f.write(f"{result['status']}\n")
        for name, data in result["files"].items():
            if isinstance(data, bytes):
                path = os.path.join(base, "out", name)
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as f:
                    f.write(data)
    return folder


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("old_build")
    parser.add_argument("new_build")
    parser.add_argument("count", type=int)
    parser.add_argument("seed")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--keep", default="differential_failures")
    parser.add_argument("--timeout", type=int, default=60)
    parser.add_argument("--tiers", default="portable,avx2,avx512")
    parser.add_argument("--show", type=int, default=5)
    parser.add_argument("--only", choices=KINDS, help="generate cases of this kind only")
    a = parser.parse_args()
    old_build, new_build = os.path.abspath(a.old_build), os.path.abspath(a.new_build)
    tiers = a.tiers.split(",")
    jobs = [(n, a.seed, old_build, new_build, tiers, a.timeout, a.only) for n in range(a.count)]
    passed = failed = console_diffs = 0
    shown = 0
    counts = {}
    statuses = {}
    with ProcessPoolExecutor(max_workers=a.jobs) as pool:
        for summary in pool.map(check_case, jobs, chunksize=4):
            key = (summary["kind"], summary["program"], summary["mode"])
            first = summary["status"].get("old", summary["status"].get(tiers[0]))
            statuses[first] = statuses.get(first, 0) + 1
            counts.setdefault(key, [0, 0])
            if summary["problems"] and summary["kind"] == "console_input":
                console_diffs += 1
            if summary["problems"]:
                failed += 1
                counts[key][1] += 1
                folder = keep_case(a.keep, summary)
                if shown < a.show:
                    shown += 1
                    print(f"case {summary['number']} ({summary['kind']}, {summary['note']}): "
                          f"{summary['program']} {' '.join(repr(x) for x in summary['args'])}"
                          f" -> {folder}")
                    for tier, lines in summary["problems"].items():
                        for line in lines[:4]:
                            print(f"  {tier}: {line}")
            else:
                passed += 1
                counts[key][0] += 1
    for (kind, program, mode), (p, f) in sorted(counts.items()):
        print(f"  {kind:15} {program:13} mode {mode or '-':2} {p:5} passed {f:4} failed")
    print("exit statuses (old build, else first tier): " +
          ", ".join(f"{k}: {v}" for k, v in sorted(statuses.items())))
    print(f"runs per case: old build once, new build once per tier ({', '.join(tiers)}); "
          f"{console_diffs} of the failures read the console (an empty input name)")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
