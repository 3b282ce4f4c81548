#!/usr/bin/env python3
"""Writes a deterministic "home folder" corpus of about SIZE bytes below DIR.

The mix, by bytes: 45% media that is compressed already (random bytes named
as photos, music and video), 30% documents that compress well (text made
of words), 15% binaries (code-like bytes that compress partly), and 10% in
thousands of small text files. The same SIZE gives the same bytes on every
machine.

    make_corpus.py DIR [SIZE]     SIZE in bytes, with K, M or G (default 1G)
"""
import argparse
import os
import random

WORDS = ("account balance budget chapter contract customer delivery invoice letter "
         "meeting minutes notes order payment project quarter receipt report "
         "schedule summary table total travel update version weekly yearly").split()


def parse_size(text):
    units = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}
    try:
        if text and text[-1].upper() in units:
            size = int(text[:-1]) * units[text[-1].upper()]
        else:
            size = int(text)
    except ValueError:
        size = 0
    if size <= 0:
        raise argparse.ArgumentTypeError(f"'{text}' is no size: bytes, or a number with K, M or G")
    return size


def text_bytes(rng, size):
    out = []
    length = 0
    while length < size:
        line = " ".join(rng.choice(WORDS) for _ in range(rng.randint(6, 14)))
        line = f"{rng.randint(1, 9999):5d} {line} {rng.random():.4f}\n"
        out.append(line)
        length += len(line)
    return "".join(out).encode()[:size]


def binary_bytes(rng, size):
    # Instruction-like: a small alphabet of opcodes and addresses.
    ops = [rng.randbytes(4) for _ in range(256)]
    chunks = []
    for _ in range(size // 8 + 1):
        chunks.append(rng.choice(ops))
        chunks.append(rng.randbytes(2) + b"\x00\x00")
    return b"".join(chunks)[:size]


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main():
    parser = argparse.ArgumentParser(description="Writes a deterministic home folder corpus of about SIZE bytes.")
    parser.add_argument("dir", metavar="DIR", help="the folder the corpus is written below")
    parser.add_argument("size", metavar="SIZE", nargs="?", type=parse_size, default=1 << 30,
                        help="bytes, with K, M or G (default 1G)")
    args = parser.parse_args()
    root = args.dir
    total = args.size
    rng = random.Random(20261207)
    media, docs, bins, small = (int(total * p) for p in (0.45, 0.30, 0.15, 0.10))
    n = 0
    while media > 0:
        size = min(media, rng.randint(1 << 20, 8 << 20))
        ext = rng.choice(["jpg", "mp3", "mp4", "heic", "flac"])
        write(f"{root}/Media/{n // 50:03d}/file{n:05d}.{ext}", rng.randbytes(size))
        media -= size
        n += 1
    while docs > 0:
        size = min(docs, rng.randint(64 << 10, 2 << 20))
        ext = rng.choice(["txt", "csv", "odt", "html", "eml"])
        write(f"{root}/Documents/{n // 50:03d}/doc{n:05d}.{ext}", text_bytes(rng, size))
        docs -= size
        n += 1
    while bins > 0:
        size = min(bins, rng.randint(256 << 10, 4 << 20))
        write(f"{root}/Programs/{n // 50:03d}/prog{n:05d}.bin", binary_bytes(rng, size))
        bins -= size
        n += 1
    while small > 0:
        size = min(small, rng.randint(512, 16 << 10))
        write(f"{root}/Notes/{n // 200:04d}/note{n:06d}.txt", text_bytes(rng, size))
        small -= size
        n += 1


if __name__ == "__main__":
    main()
