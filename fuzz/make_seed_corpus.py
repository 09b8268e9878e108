#!/usr/bin/env python3
"""Writes the fuzzer's seed corpus into FOLDER: small valid 24-bit sources of
many widths and heights, with the header variants real programs write."""
import os
import struct
import sys


def bmp(w, h, top_down=False, info_size=40, gap=0):
    stride = (3 * w + 3) // 4 * 4
    offset = 14 + info_size + gap
    header = b"BM" + struct.pack("<IHHI", offset + stride * h, 0, 0, offset)
    header += struct.pack("<IiiHHIIiiII", info_size, w, -h if top_down else h, 1, 24, 0, stride * h, 2835, 2835, gap // 4, 0)
    header = header.ljust(offset, b"\0")
    rows = b"".join(bytes((i * 7 + y * 13) & 0xFF if i < 3 * w else 0 for i in range(stride)) for y in range(h))
    return header + rows


def main():
    folder = sys.argv[1]
    seeds = [bmp(w, h) for w in (1, 2, 3, 4, 5, 7, 20, 21, 23) for h in (1, 2, 3, 20, 22)]
    seeds += [bmp(20, 20, top_down=True), bmp(21, 3, info_size=108), bmp(21, 3, info_size=124, gap=16), bmp(6, 5, gap=1024)]
    for n, data in enumerate(seeds):
        with open(os.path.join(folder, f"seed-{n}.bmp"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
