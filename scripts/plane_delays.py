#!/usr/bin/env python3
"""Finds, for each of the eight registers of the key generator, a multiple of
its feedback polynomial with four terms, 1 + z^a + z^b + z^c, with a, b, c at
least MIN and c as small as the search finds: the delays (in bytes of a bit
plane, after raising to the 8th power) in generator/key_block_kernels.h.

    python3 scripts/plane_delays.py [MIN [LIMIT]]

MIN (default 256) is the smallest delay allowed: four times the width in
bytes of the widest vector a kernel makes at once, so that a vector reads only
bytes stored several vectors before (a read that spans two stores still on
their way to the cache waits for them); LIMIT (default 3000) bounds the
search.
"""
import sys

# The tap table of the register bank: bit b of entry i set when stage i of
# register b feeds back.
TAPS = [0x14, 0x73, 0xA3, 0x33, 0x8F, 0x25, 0x67, 0xBD, 0x16, 0xB6, 0xB4, 0x4C, 0x0C, 0xB4,
        0x51, 0x90, 0x6B, 0x1A, 0x6B, 0x09, 0xE0, 0x59, 0x0D, 0xA8, 0x18, 0xE1, 0x70, 0x61,
        0xC1, 0x01, 0x81]


def delays(register, smallest, limit):
    # The output bits obey bit[n] = XOR over the taps i of bit[n-1-i]: the
    # polynomial 1 + sum of z^(1+i) in the delay z annihilates them.
    poly = 1
    for i, taps in enumerate(TAPS):
        if (taps >> register) & 1:
            poly |= 1 << (1 + i)
    degree = poly.bit_length() - 1
    powers, value = [], 1
    for _ in range(limit):
        powers.append(value)
        value <<= 1
        if (value >> degree) & 1:
            value ^= poly
    where = {}
    for e, v in enumerate(powers):
        where.setdefault(v, []).append(e)
    for c in range(smallest, limit):
        for b in range(smallest, c):
            for a in where.get(powers[c] ^ powers[b] ^ 1, ()):
                if smallest <= a < b:
                    return a, b, c
    return None


def main():
    smallest = int(sys.argv[1]) if len(sys.argv) > 1 else 256
    limit = int(sys.argv[2]) if len(sys.argv) > 2 else 3000
    for register in range(8):
        print(register, delays(register, smallest, limit))


if __name__ == "__main__":
    main()
