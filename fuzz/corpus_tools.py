#!/usr/bin/env python3
"""Pieces of real files turned into fuzz seeds (used by make_corpus.sh).

  image ARCHIVE OUT      the index image an archive stores (closing record,
                         then its blocks, inflated and joined)
  indexfile IMAGE OUT    that image as a saved index file
  sparse IMAGE           every non-zero sector, as sparse chunks on stdout
  ntfs IMAGE             the boot sector, the MFT and its bitmap, as chunks
  records IMAGE FOLDER   single MFT records of the volume, one seed each

Sparse chunks: volume size in sectors (4), then sector (4) | length (2) |
bytes, little-endian (see fuzz_helpers.h).
"""
import os
import struct
import sys
import zlib

SECTOR = 512
HEADER_SIZE = 246
USER_DATA_AT = 181
BLOCK_HEADER = 14
COMPRESSED = 0x1000
INDEX_FILE_MAGIC = 0x81867368


def read_block(data, at):
    stored, kind, length = struct.unpack_from("<IHI", data, at)
    payload = data[at + BLOCK_HEADER:at + BLOCK_HEADER + stored]
    plain = zlib.decompress(payload) if kind & COMPRESSED else payload
    assert len(plain) == length, "block length"
    return plain, at + BLOCK_HEADER + stored


def index_image(archive):
    data = open(archive, "rb").read()
    closing, _ = read_block(data, struct.unpack_from("<Q", data, USER_DATA_AT)[0])
    assert closing[:4] == b"SQVO", "closing record"
    at, length = struct.unpack_from("<QI", closing, 4)
    image = b""
    while len(image) < length:
        chunk, at = read_block(data, at)
        image += chunk
    return image


def chunks(image, sectors):
    """Runs of the listed sectors that are not all zeros, merged."""
    out = [struct.pack("<I", (len(image) + SECTOR - 1) // SECTOR)]
    run = []
    def flush():
        if run:
            out.append(struct.pack("<IH", run[0], len(run) * SECTOR) +
                       image[run[0] * SECTOR:(run[-1] + 1) * SECTOR])
            run.clear()
    for s in sorted(set(sectors)):
        if image[s * SECTOR:(s + 1) * SECTOR].strip(b"\0") == b"":
            flush()
            continue
        if run and (s != run[-1] + 1 or len(run) == 120):
            flush()
        run.append(s)
    flush()
    return b"".join(out)


def fixup(record):
    usa, count = struct.unpack_from("<HH", record, 4)
    record = bytearray(record)
    for i in range(1, count):
        end = i * SECTOR - 2
        record[end:end + 2] = record[usa + 2 * i:usa + 2 * i + 2]
    return bytes(record)


def attributes(record):
    at = struct.unpack_from("<H", record, 20)[0]
    while at + 8 <= len(record):
        kind, length = struct.unpack_from("<II", record, at)
        if kind == 0xFFFFFFFF or length == 0:
            return
        yield kind, record[at:at + length]
        at += length


def runs(attribute):
    first_vcn = struct.unpack_from("<Q", attribute, 16)[0]
    at = struct.unpack_from("<H", attribute, 32)[0]
    lcn, vcn = 0, first_vcn
    while attribute[at] != 0:
        sizes = attribute[at]
        ln, off = sizes & 15, sizes >> 4
        length = int.from_bytes(attribute[at + 1:at + 1 + ln], "little")
        delta = int.from_bytes(attribute[at + 1 + ln:at + 1 + ln + off], "little", signed=True)
        lcn += delta
        yield lcn, length
        at += 1 + ln + off
        vcn += length


class Ntfs:
    def __init__(self, path):
        self.image = open(path, "rb").read()
        sector, per_cluster = struct.unpack_from("<HB", self.image, 11)
        self.cluster = sector * per_cluster
        mft_lcn = struct.unpack_from("<Q", self.image, 48)[0]
        code = struct.unpack_from("<b", self.image, 64)[0]
        self.record_size = 1 << -code if code < 0 else code * self.cluster
        start = mft_lcn * self.cluster
        mft = fixup(self.image[start:start + self.record_size])
        self.mft_clusters, self.bitmap_clusters, self.bitmap = [], [], b""
        for kind, attribute in attributes(mft):
            if kind in (0x80, 0xB0) and attribute[8]:
                target = self.mft_clusters if kind == 0x80 else self.bitmap_clusters
                for lcn, length in runs(attribute):
                    target.extend(range(lcn, lcn + length))
            elif kind == 0xB0:
                length, at = struct.unpack_from("<IH", attribute, 16)
                self.bitmap = attribute[at:at + length]
        if self.bitmap_clusters:
            self.bitmap = b"".join(self.image[c * self.cluster:(c + 1) * self.cluster] for c in self.bitmap_clusters)

    def record(self, number):
        at = self.record_at(number)
        return self.image[at:at + self.record_size]

    def in_use(self, number):
        return number // 8 < len(self.bitmap) and self.bitmap[number // 8] >> (number % 8) & 1

    def record_at(self, number):
        cluster = self.mft_clusters[number * self.record_size // self.cluster]
        return cluster * self.cluster + (number * self.record_size) % self.cluster

    def sectors(self):
        """The boot sector, the bitmap and the records in use."""
        per = self.cluster // SECTOR
        wanted = [0]
        for c in self.bitmap_clusters:
            wanted.extend(range(c * per, (c + 1) * per))
        count = len(self.mft_clusters) * self.cluster // self.record_size
        for number in range(count):
            if self.in_use(number):
                at = self.record_at(number) // SECTOR
                wanted.extend(range(at, at + self.record_size // SECTOR))
        return wanted


def main():
    command, args = sys.argv[1], sys.argv[2:]
    if command == "image":
        open(args[1], "wb").write(index_image(args[0]))
    elif command == "indexfile":
        image = open(args[0], "rb").read()
        open(args[1], "wb").write(struct.pack("<II", INDEX_FILE_MAGIC, len(image) - 2) + image + b"\0\0")
    elif command == "sparse":
        image = open(args[0], "rb").read()
        sys.stdout.buffer.write(chunks(image, range(len(image) // SECTOR)))
    elif command == "ntfs":
        volume = Ntfs(args[0])
        sys.stdout.buffer.write(chunks(volume.image, volume.sectors()))
    elif command == "records":
        volume = Ntfs(args[0])
        size_code = {512: 0, 1024: 1, 2048: 2, 4096: 3}[volume.record_size]
        count = len(volume.mft_clusters) * volume.cluster // volume.record_size
        named = []
        for number in range(count):
            record = volume.record(number)
            if record[:4] == b"FILE" and number >= 24 and any(k == 0x30 for k, _ in attributes(fixup(record))):
                named.append(number)
        # (choice byte: 0 numbers the base record 5, 1 numbers it 64)
        seeds = {"mft": (1, [0]), "root": (0, [5]), "files": (1, named[:3])}
        for name, (choice, numbers) in seeds.items():
            with open(os.path.join(args[1], name), "wb") as out:
                out.write(bytes([choice, size_code]))
                for number in numbers:
                    out.write(volume.record(number))


if __name__ == "__main__":
    main()
