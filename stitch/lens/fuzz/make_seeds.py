#!/usr/bin/env python3
"""Writes seed records for lens_record_fuzzer into the corpus folder given as argument.

Each seed is a 1652-byte dual-lens record (little-endian, field by field) followed by 8
geometry bytes the fuzzer reads (grid size, generation flag, output and source sizes,
rotation, line count fallback).
"""
import os
import struct
import sys


def record(fov, model, c1, c2, ratio, n, lines):
    out = bytearray(b"seed\0\0\0\0\0\0\0\0")
    out += struct.pack("<fi", fov, model)
    out += struct.pack("<3f", *c1) + struct.pack("<3f", *c2)
    out += struct.pack("<fi", ratio, n)
    src = lines + [(0.0, 0.0, 0.0, 0.0)] * (50 - len(lines))
    for l in src:
        out += struct.pack("<4f", *l)
    for l in src:
        out += struct.pack("<4f", l[0] + 3, l[1] - 2, l[2] + 4, l[3] + 2)
    assert len(out) == 1652
    return bytes(out)


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    nan, inf = float("nan"), float("inf")
    lines = [(100.0 + 600 * i, 470.0, 104.0 + 600 * i, 490.0) for i in range(3)]
    seeds = {
        "plain": record(200.0, 2201, (480, 480, 470), (482, 478, 468), 1.0, 3, lines),
        "class1": record(195.0, 401, (480, 480, 470), (482, 478, 468), 0.99, 3, lines),
        "class2": record(210.0, 1000, (480, 480, 470), (482, 478, 468), 1.01, 2, lines[:2]),
        "nan": record(nan, 2202, (nan, 480, inf), (482, -inf, 468), nan, 3, lines),
        "huge": record(359.0, 3, (3e38, -3e38, 3e38), (0, 0, 0), 1e30, 50, lines),
        "count": record(200.0, 702, (480, 480, 470), (482, 478, 468), 1.0, -7, lines),
    }
    for i, (name, rec) in enumerate(seeds.items()):
        geometry = bytes([i * 37 % 256, i & 1, 20 + i, 60 + i, 30 + 2 * i, i, i & 1, 3 * i])
        with open(os.path.join(folder, "seed-" + name), "wb") as f:
            f.write(rec + geometry)


if __name__ == "__main__":
    main()
