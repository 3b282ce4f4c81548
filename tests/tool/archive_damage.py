#!/usr/bin/env python3
"""Damaged archives of every kind, through qvbackup verify and restore.

   archive_damage.py QVBACKUP WORK [--seed N] [--rounds N]

Writes one archive of each kind (plain, compressed, encrypted, split into
volumes, an increment chain, self-extracting) of a small tree, then for
each one truncates its stream at every block boundary and at random points,
and flips random bytes in the header, block headers, payloads, index blocks
and closing record. For every damaged copy:
  - verify and restore end with 0 or 1 within the time limit (no crash, no
    hang);
  - a restored file is byte for byte the version saved, and nothing else
    appears below the restore folder or beside the archive;
  - verify reports damage to any block (a changed header byte may be one
    nothing reads, and must then leave every file restorable);
  - when the headers, indexes and closing records are intact, every file
    whose own blocks are intact comes back, every other one is named by
    restore, and verify names exactly the files restore cannot bring back.
The random cases are seeded; --rounds multiplies them. The index holds the
times of the folders above the tree, so its blocks, and the offsets after
them, may differ by a few bytes from one run to the next.
"""
import argparse
import json
import os
import random
import resource
import shutil
import struct
import subprocess
import sys
import zlib

HEADER = 246
BLOCK_HEADER = 14
VOLUME_SIZE = 65536
PASSWORD = "damage pw"
RUN_SECONDS = 30
# Memory a run may take: far below what a crafted length could ask for.
MEMORY_LIMIT = 384 << 20

# name -> (content of the base, content of the increment or None)
TREE = {
    "a.txt": (b"the quick brown fox jumps over the lazy dog\n" * 60, None),
    "b.bin": (random.Random(7).randbytes(3500), None),
    "c.txt": (b"some text\n" * 40, b"changed text\n" * 50),
    "e.txt": (b"", None),
    "sub/d.bin": (random.Random(8).randbytes(1500), None),
    "f.txt": (None, b"new in the increment\n" * 20),
    # Saved last: a whole number of 1000-byte blocks right before the index.
    "z.bin": (random.Random(10).randbytes(2000), None),
}


class Failure(Exception):
    pass


def limit_memory():
    resource.setrlimit(resource.RLIMIT_AS, (MEMORY_LIMIT, MEMORY_LIMIT))


class Tool:
    def __init__(self, program):
        self.program = program
        # AddressSanitizer reserves far more address space than any limit
        # that means something: a sanitized build runs without one.
        with open(program, "rb") as image:
            self.limit = None if b"__asan_init" in image.read() else limit_memory
        self.env = dict(os.environ, QV_DAMAGE_PW=PASSWORD)
        self.runs = 0

    def run(self, *args, encrypted=False):
        argv = [self.program, *args]
        if encrypted:
            argv += ["--password-env", "QV_DAMAGE_PW"]
        self.runs += 1
        try:
            done = subprocess.run(argv, env=self.env, capture_output=True, timeout=RUN_SECONDS,
                                  preexec_fn=self.limit)
        except subprocess.TimeoutExpired:
            raise Failure(f"{' '.join(args)}: still running after {RUN_SECONDS} s")
        # A sanitizer's report ends the program with 1 too.
        if done.returncode not in (0, 1) or b"Sanitizer" in done.stderr or b"runtime error:" in done.stderr:
            raise Failure(f"{' '.join(args)}: exit {done.returncode}: {done.stderr.decode(errors='replace')}")
        return done


def drive_path(path):
    return "C:" + os.path.abspath(path).replace("/", "\\")


def write_tree(root, version, tree):
    for name, contents in tree.items():
        content = contents[version] if version == 0 or contents[1] is not None else None
        if content is None:
            continue
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(content)


def saved_files(version, tree):
    """Names saved by a member, in the order the backup writes them."""
    names = [n for n, c in tree.items() if c[version] is not None]
    return sorted(names, key=lambda n: n.replace("/", "\\").upper())


def write_stream(paths, volume_size, data):
    """Writes `data` as the volume files `paths`: a shorter stream drops the
    volumes past its end."""
    if volume_size is None:
        open(paths[0], "wb").write(data)
        return
    for number, path in enumerate(paths):
        piece = data[number * volume_size:(number + 1) * volume_size]
        if piece or number == 0:
            open(path, "wb").write(piece)
        else:
            os.remove(path)


class Member:
    """One archive member's stream over its volume files."""

    def __init__(self, paths, volume_size=None):
        self.paths = paths
        self.volume_size = volume_size
        self.data = b"".join(open(p, "rb").read() for p in paths)
        self.start = struct.unpack_from("<Q", self.data, 28)[0] if self.data[:2] == b"MZ" else 0
        self.blocks = []  # (offset, total length, kind)
        self.lengths = []  # the data length of each block
        end = struct.unpack_from("<Q", self.data, self.start + 189)[0]
        at = self.start + HEADER
        while at < end:
            stored, kind, length = struct.unpack_from("<IHI", self.data, at)
            self.blocks.append((at, BLOCK_HEADER + stored, kind))
            self.lengths.append(length)
            at += BLOCK_HEADER + stored
        if at != end or not self.blocks or self.blocks[-1][2] & 0xFFF != 0:
            raise Failure(f"{paths[0]}: blocks do not end at the end of data")

    def map_files(self, names, tree, block_size):
        """Each file's blocks (record first) from the sizes, then the index
        blocks; checked against the records where they can be read."""
        self.files = {}
        at = 0
        for name in names:
            size = len(tree[name][1] if tree[name][1] is not None and self.increment else tree[name][0])
            count = 1 + (size + block_size - 1) // block_size
            self.files[name] = list(range(at, at + count))
            record = self.payload(at)
            if record is not None:
                length = struct.unpack_from("<H", record, 4)[0]
                stored_name = record[27:27 + 2 * length].decode("utf-16-le")
                if stored_name != name.split("/")[-1]:
                    raise Failure(f"block {at} is the record of {stored_name}, not {name}")
            at += count
        # An increment's record of which files existed, the metadata table
        # (modes, owners, links) and their locators, when the member has
        # them, lie between the files and the index.
        self.metadata = []
        while at < len(self.blocks) - 1 and self.blocks[at][2] & 0xFFF in (3, 4, 5, 6):
            self.metadata.append(at)
            at += 1
        self.index = list(range(at, len(self.blocks) - 1))
        if not self.index:
            raise Failure("no index blocks")

    def payload(self, number):
        offset, length, kind = self.blocks[number]
        data = self.data[offset + BLOCK_HEADER:offset + length]
        if kind & 0x2000:
            return None
        return zlib.decompress(data) if kind & 0x1000 else data

    def span(self, number):
        offset, length, _ = self.blocks[number]
        return offset, offset + length


class Kind:
    def __init__(self, name, options, encrypted=False, split=False, chain=False, sfx=False, block_size=1000,
                 extra=None):
        self.name = name
        self.block_size = block_size
        self.tree = dict(TREE, **(extra or {}))
        self.options = options
        self.encrypted = encrypted
        self.split = split
        self.chain = chain
        self.sfx = sfx


KINDS = [
    Kind("plain", ["--no-compress"]),
    Kind("compressed", []),
    Kind("encrypted", [], encrypted=True),
    # Three volumes of the smallest size the program takes.
    Kind("split", ["--volume-size", "64K"], split=True, block_size=8192,
         extra={"v.bin": (random.Random(9).randbytes(140000), None)}),
    Kind("chain", [], chain=True),
    Kind("sfx", ["--sfx"], sfx=True),
]


class Driver:
    def __init__(self, tool, work, seed, rounds):
        self.tool = tool
        self.work = work
        self.random = random.Random(seed)
        self.rounds = rounds
        self.cases = 0
        self.harmless = 0
        self.salvaged = 0
        self.source = os.path.join(work, "src")

    def build(self, kind):
        folder = os.path.join(self.work, kind.name)
        os.makedirs(folder)
        shutil.rmtree(self.source, ignore_errors=True)
        write_tree(self.source, 0, kind.tree)
        options = kind.options + ["--block-size", str(kind.block_size), "--quiet"]
        if kind.sfx:
            stub = os.path.join(self.work, "stub.exe")
            open(stub, "wb").write(b"MZ" + bytes(3000))
            options += ["--sfx-stub", stub]
        self.backup(folder, options, kind.encrypted)
        members = [self.member(folder, kind, 0)]
        if kind.chain:
            write_tree(self.source, 1, kind.tree)
            self.backup(folder, options + ["--incremental"], kind.encrypted)
            members.append(self.member(folder, kind, 1))
        first = members[0].paths[0]
        return folder, first, members

    def backup(self, folder, options, encrypted):
        done = self.tool.run("backup", self.source, "--to", folder, "--name", "dmg", *options, encrypted=encrypted)
        if done.returncode != 0:
            raise Failure(f"backup: {done.stderr.decode(errors='replace')}")

    def member(self, folder, kind, increment):
        if kind.split:
            count = len([n for n in os.listdir(folder) if n.startswith("dmg.")])
            paths = [os.path.join(folder, f"dmg.{n}.QVA") for n in range(1, count + 1)]
            member = Member(paths, VOLUME_SIZE)
        else:
            name = "dmg.exe" if kind.sfx else ("dmg.I1.QVA" if increment else "dmg.QVA")
            member = Member([os.path.join(folder, name)])
        member.increment = increment
        member.map_files(saved_files(increment, kind.tree), kind.tree, kind.block_size)
        return member

    def expected(self, members, tree):
        """The version each file is restored from: (member index, bytes)."""
        newest = {}
        for number, member in enumerate(members):
            for name in member.files:
                newest[name] = (number, tree[name][1] if number else tree[name][0])
        return newest

    # ---- one damaged copy ----------------------------------------------

    def check(self, kind, folder, first, members, number, data, label, damaged, in_block, header_only=False):
        """Writes member `number` as `data` into a copy of the archive, runs
        verify and restore, and checks what they say. `damaged` is the
        changed byte range of the stream; `header_only` says it lies in a
        block header, so the file it belongs to may still come back whole
        (a changed kind, a stored length that still covers the data)."""
        self.cases += 1
        case = os.path.join(self.work, "case")
        shutil.rmtree(case, ignore_errors=True)
        shutil.copytree(folder, case)
        member = members[number]
        write_stream([os.path.join(case, os.path.basename(p)) for p in member.paths], member.volume_size, data)
        archive = os.path.join(case, os.path.basename(first))
        before = sorted(os.listdir(case))
        where = f"{kind.name} member {number} {label}"

        verify = self.tool.run("verify", archive, "--json", "--quiet", encrypted=kind.encrypted)
        out = os.path.join(case, "out")
        restore = self.tool.run("restore", archive, "--to", out, "--json", "--quiet", encrypted=kind.encrypted)
        if sorted(n for n in os.listdir(case) if n != "out") != before:
            raise Failure(f"{where}: files appeared beside the archive: {os.listdir(case)}")
        restored = self.restored_files(out, where)
        expected = self.expected(members, kind.tree)
        for name, content in restored.items():
            if name not in expected or content != expected[name][1]:
                raise Failure(f"{where}: {name} restored with other bytes")

        whole = restore.returncode == 0 and set(restored) == set(expected)
        if verify.returncode == 0:
            if in_block or not whole:
                raise Failure(f"{where}: verify found nothing, restore: {restore.stderr.decode(errors='replace')}")
            self.harmless += 1
            return
        structural = self.touches_structure(members, number, damaged)
        if structural:
            self.check_salvage(kind, members, number, damaged, restore, restored, where)
            return
        # Damage to file blocks only: exactly the files it touches fail.
        hit = {name for name, blocks in members[number].files.items()
               if any(self.overlaps(members[number].span(b), damaged) for b in blocks)}
        lost = {name for name in hit if expected[name][0] == number}
        failed = self.failed_files(restore, where)
        if header_only:
            lost = failed & lost
        if set(expected) - set(restored) != lost or failed != lost:
            raise Failure(f"{where}: lost {sorted(lost)}, restore failed {sorted(failed)}, "
                          f"restored {sorted(restored)}")
        if number == len(members) - 1 or not kind.chain:
            named = self.damaged_files(verify, where)
            if named != hit and not (header_only and failed <= named):
                raise Failure(f"{where}: verify named {sorted(named)}, the damage hit {sorted(hit)}")

    def check_salvage(self, kind, members, number, damaged, restore, restored, where):
        """Damage that loses member `number`'s index (a cut, the index, the
        closing record): restore brings back exactly the files whose blocks
        prove their whole content and names every other file it finds."""
        member = members[number]
        if self.overlaps((0, member.start + HEADER), damaged):
            return  # the header or the stub: the member may not even open
        failed = self.failed_files(restore, where)
        salvaged = json.loads(restore.stdout)["salvaged"]
        if salvaged != (restore.returncode == 1 and b"its blocks prove whole" in restore.stderr):
            raise Failure(f"{where}: salvaged {salvaged}, exit {restore.returncode}: {restore.stderr}")
        if not salvaged:
            if failed or set(restored) != set(self.expected(members, kind.tree)):
                raise Failure(f"{where}: the index loaded, yet restore failed {sorted(failed)}")
            return
        intact = [not self.overlaps(member.span(b), damaged) for b in range(len(member.blocks))]
        known, proven, all_seen = self.salvage_model(member, intact, kind.block_size)
        view = {}  # name -> (member, restorable)
        for at, other in enumerate(members):
            if at == number:
                if not all_seen:
                    view = {name: (m, False) for name, (m, _) in view.items()}
                view.update({name: (at, name in proven) for name in known})
            else:
                view.update({name: (at, True) for name in other.files})
        wanted = {name for name, (_, ok) in view.items() if ok}
        if set(restored) != wanted or failed != set(view) - wanted:
            raise Failure(f"{where}: salvage restored {sorted(restored)} and named {sorted(failed)}, "
                          f"expected {sorted(wanted)} and {sorted(set(view) - wanted)}")
        self.salvaged += 1

    @staticmethod
    def salvage_model(member, intact, block_size):
        """The files whose records the walk reads, those whose content is
        proven whole, and whether every record before the index was read."""
        first_index = member.index[0]
        closing_read = intact[-1]
        index_known = closing_read or intact[first_index]
        full_seen = any(intact[b] and member.lengths[b] == block_size and member.blocks[b][2] & 0xFFF == 1
                        for b in range(len(member.blocks)))
        known, proven = set(), set()
        for name, blocks in member.files.items():
            if not intact[blocks[0]]:
                continue
            known.add(name)
            following = blocks[-1] + 1
            boundary = intact[following] or (following == first_index and closing_read)
            size = sum(member.lengths[b] for b in blocks[1:])
            short_end = full_seen and size % block_size != 0 and size < 65536
            if all(intact[b] for b in blocks) and (boundary or short_end):
                proven.add(name)
        all_seen = index_known and all(intact[:first_index])
        return known, proven, all_seen

    @staticmethod
    def overlaps(span, damaged):
        return span[0] < damaged[1] and damaged[0] < span[1]

    def touches_structure(self, members, number, damaged):
        member = members[number]
        if self.overlaps((member.start, member.start + HEADER), damaged):
            return True
        # The stub's "MZ" and the header offset it records.
        if member.start and (self.overlaps((0, 2), damaged) or self.overlaps((28, 36), damaged)):
            return True
        spans = [member.span(b) for b in member.metadata + member.index + [len(member.blocks) - 1]]
        return any(self.overlaps(span, damaged) for span in spans) or damaged[1] > len(member.data)

    def restored_files(self, out, where):
        files = {}
        prefix = os.path.join(out, "Kelvar_C") + os.path.abspath(self.source)
        for folder, _, names in os.walk(out):
            for name in names:
                path = os.path.join(folder, name)
                if not path.startswith(prefix + "/"):
                    raise Failure(f"{where}: restore wrote {path}")
                files[os.path.relpath(path, prefix)] = open(path, "rb").read()
        return files

    def failed_files(self, restore, where):
        return self.named_files(restore, "failed", where)

    def damaged_files(self, verify, where):
        return self.named_files(verify, "damaged", where)

    def named_files(self, done, key, where):
        """The paths (relative to the source) a JSON report lists in `key`."""
        source = drive_path(self.source) + "\\"
        try:
            report = json.loads(done.stdout)
        except ValueError:
            raise Failure(f"{where}: no report: {done.stderr.decode(errors='replace')}")
        return {f["path"].replace(source, "").replace("\\", "/") for f in report[key]}

    # ---- the cases -----------------------------------------------------

    def damage(self, kind):
        folder, first, members = self.build(kind)
        for number, member in enumerate(members):
            data = member.data
            cuts = {member.start + HEADER // 2, member.start + HEADER}
            cuts |= {offset for offset, _, _ in member.blocks}
            cuts |= {self.random.randrange(member.start, len(data)) for _ in range(2 * self.rounds)}
            for cut in sorted(cuts):
                self.check(kind, folder, first, members, number, data[:cut], f"cut at {cut}",
                           (cut, len(data) + 1), False)
            for label, spans in self.regions(member):
                for _ in range(self.rounds):
                    start, end = self.random.choice(spans)
                    at = self.random.randrange(start, end)
                    flipped = bytearray(data)
                    flipped[at] ^= 1 << self.random.randrange(8)
                    self.check(kind, folder, first, members, number, bytes(flipped), f"{label} byte {at} flipped",
                               (at, at + 1), label != "header" and not self.unread(member, at),
                               label == "block header")

    @staticmethod
    def unread(member, at):
        """Whether `at` lies in a compressed payload that is not encrypted:
        deflate has bits its decoder never reads (the padding of its last
        byte, code lengths of symbols never used), so a flip there may
        change nothing."""
        for offset, length, kind in member.blocks:
            if offset + BLOCK_HEADER <= at < offset + length:
                return kind & 0x3000 == 0x1000
        return False

    def regions(self, member):
        blocks = member.blocks
        file_blocks = [b for blocks_of in member.files.values() for b in blocks_of]
        headers = [(blocks[b][0], blocks[b][0] + BLOCK_HEADER) for b in range(len(blocks))]
        payloads = [(blocks[b][0] + BLOCK_HEADER, blocks[b][0] + blocks[b][1]) for b in file_blocks]
        index = [member.span(b) for b in member.index]
        closing = [member.span(len(blocks) - 1)]
        header = [(member.start, member.start + HEADER)]
        regions = [("header", header), ("block header", headers), ("payload", payloads), ("index", index),
                   ("closing record", closing)]
        if member.metadata:
            regions.append(("metadata table", [member.span(b) for b in member.metadata]))
        return regions


# ---- crafted archives -----------------------------------------------------

def name_key(text):
    return zlib.crc32(bytes(ord(c.upper()) & 0xFF if c.isascii() else ord(c) & 0xFF for c in text))


def rename_entries(image, old, new):
    """Renames every index entry called `old` to `new` (as long), with its
    name and extension keys; returns how many."""
    image = bytearray(image)
    pattern = old.encode("utf-16-le") + b"\0\0"
    count, at = 0, image.find(pattern)
    while at >= 0:
        if at % 2 == 0 and struct.unpack_from("<H", image, at - 84 + 2)[0] == 86:
            entry = at - 84
            image[at:at + 2 * len(new)] = new.encode("utf-16-le")
            extension = new.rsplit(".", 1)[1] if "." in new else ""
            struct.pack_into("<II", image, entry + 28, name_key(new), name_key(extension) if extension else 0)
            count += 1
        at = image.find(pattern, at + 2)
    return bytes(image), count


def replace_block(data, offset, payload, stored=None):
    """The stream with the plain block at `offset` holding `payload`."""
    header = bytearray(data[offset:offset + BLOCK_HEADER])
    old_stored = struct.unpack_from("<I", header, 0)[0]
    struct.pack_into("<I", header, 0, len(payload) if stored is None else stored)
    struct.pack_into("<I", header, 6, len(payload))
    struct.pack_into("<I", header, 10, zlib.crc32(payload))
    return data[:offset] + bytes(header) + payload + data[offset + BLOCK_HEADER + old_stored:]


def escaping_record(member):
    """The stream with esc.txt's record leading out of the restore folder
    (each "up" of its path made "..", its checksum recomputed) and the
    closing record damaged, so that restore reads the records alone."""
    data = member.data
    for number, (offset, _, _) in enumerate(member.blocks):
        record = member.payload(number)
        if len(record) < 27 or struct.unpack_from("<I", record, 6)[0] != 27:
            continue
        second, length = struct.unpack_from("<HH", record, 0)
        path = record[second:second + 2 * length].decode("utf-16-le")
        if path.endswith("\\esc.txt"):
            escaping = "\\".join(".." if part == "up" else part for part in path.split("\\"))
            record = record[:second] + escaping.encode("utf-16-le") + record[second + 2 * length:]
            data = replace_block(data, offset, record)
            break
    else:
        raise Failure("no record of esc.txt")
    damaged = bytearray(data)
    damaged[member.blocks[-1][0] + BLOCK_HEADER] ^= 0x01
    return bytes(damaged)


def chunked(tool, work):
    """A file of more than 2 MiB is handed over in 1 MiB chunks, each cut
    into 1000-byte blocks but its last: a short block in the middle of its
    data ends a chunk, not the file. Without the index it comes back whole
    when the next record follows, and is named, not cut short, when the
    stream ends at a chunk's end."""
    source = os.path.join(work, "chunked")
    os.makedirs(source)
    content = random.Random(11).randbytes((2 << 20) + 51424)
    open(os.path.join(source, "big.bin"), "wb").write(content)
    open(os.path.join(source, "small.txt"), "wb").write(b"after the big one\n")
    folder = os.path.join(work, "chunked_archive")
    done = tool.run("backup", source, "--to", folder, "--name", "big", "--no-compress", "--block-size", "1000",
                    "--quiet")
    if done.returncode != 0:
        raise Failure(f"chunked backup: {done.stderr.decode(errors='replace')}")
    path = os.path.join(folder, "big.QVA")
    member = Member([path])
    # Its short blocks: the ends of its two 1 MiB chunks, then its last.
    first, second, last = [b for b in range(1, len(member.blocks)) if member.lengths[b] < 1000][:3]
    if member.lengths[first] != (1 << 20) % 1000 or member.lengths[second] != member.lengths[first]:
        raise Failure(f"chunked: short blocks {member.lengths[first]}, {member.lengths[second]}")
    closing_lost = bytearray(member.data)
    closing_lost[member.blocks[-1][0] + BLOCK_HEADER] ^= 0x01
    # label, stream, whether big.bin comes back
    cases = [("closing record", bytes(closing_lost), True),
             ("cut at the first chunk's end", member.data[:member.span(first)[1]], False),
             ("cut at the second chunk's end", member.data[:member.span(second)[1]], False),
             ("cut after its last block", member.data[:member.span(last)[1]], True)]
    for label, data, whole in cases:
        open(path, "wb").write(data)
        out = os.path.join(work, "chunked_out")
        shutil.rmtree(out, ignore_errors=True)
        restore = tool.run("restore", path, "--to", out, "--json", "--quiet")
        restored = os.path.join(out, "Kelvar_C") + os.path.abspath(source) + "/big.bin"
        failed = [f["path"] for f in json.loads(restore.stdout)["failed"]]
        if restore.returncode != 1 or os.path.exists(restored) != whole:
            raise Failure(f"chunked {label}: exit {restore.returncode}, failed {failed}")
        if whole and open(restored, "rb").read() != content:
            raise Failure(f"chunked {label}: big.bin restored with other bytes")
        if not whole and not any(f.endswith("big.bin") for f in failed):
            raise Failure(f"chunked {label}: big.bin not named: {failed}")
    # The writer's marker after a file whose source failed part-way (here in
    # place of the block after its second chunk): without the index, its
    # chunks before the marker never pass for the whole file.
    abandoned = bytearray(closing_lost)
    kind_at = member.blocks[second + 1][0] + 4
    struct.pack_into("<H", abandoned, kind_at, (struct.unpack_from("<H", abandoned, kind_at)[0] & ~0xFFF) | 2)
    open(path, "wb").write(bytes(abandoned))
    out = os.path.join(work, "chunked_out")
    shutil.rmtree(out, ignore_errors=True)
    restore = tool.run("restore", path, "--to", out, "--json", "--quiet")
    failed = json.loads(restore.stdout)["failed"]
    tree = os.path.join(out, "Kelvar_C") + os.path.abspath(source)
    reasons = [f["reason"] for f in failed if f["path"].endswith("big.bin")]
    if (restore.returncode != 1 or os.path.exists(os.path.join(tree, "big.bin")) or len(reasons) != 1
            or "not saved whole" not in reasons[0]
            or open(os.path.join(tree, "small.txt"), "rb").read() != b"after the big one\n"):
        raise Failure(f"chunked abandoned: exit {restore.returncode}, failed {failed}")


def crafted(tool, work):
    """Names in an index that leave the restore folder, and lengths that ask
    for more memory than the archive could hold: restore refuses them,
    restores the rest, writes nothing outside its folder and never runs out
    of memory; verify does not crash on them."""
    source = os.path.join(work, "crafted")
    deep = os.path.join(source, *["up"] * 8)
    os.makedirs(deep)
    for name in ["good.txt", "abs.txt", "drv.txt", "bsl.txt", os.path.join(deep, "esc.txt")]:
        open(os.path.join(source, name), "wb").write(b"crafted " + name.encode())
    folder = os.path.join(work, "crafted_archive")
    done = tool.run("backup", source, "--to", folder, "--name", "craft", "--no-compress", "--quiet")
    if done.returncode != 0:
        raise Failure(f"crafted backup: {done.stderr.decode(errors='replace')}")
    path = os.path.join(folder, "craft.QVA")
    member = Member([path])
    index_at, index_length, _ = member.blocks[-2]
    image = member.data[index_at + BLOCK_HEADER:index_at + index_length]
    if zlib.crc32(image) != struct.unpack_from("<I", member.data, index_at + 10)[0]:
        raise Failure("the index is not one plain block")
    for old, new in [("up", ".."), ("abs.txt", "/tmp/zz"), ("drv.txt", "D:\\zz.t"), ("bsl.txt", "..\\..\\z")]:
        image, count = rename_entries(image, old, new)
        if count == 0:
            raise Failure(f"no entry {old} in the index")
    # label, stream, files restore names as failed, files it writes
    cases = [("names", replace_block(member.data, index_at, image), 4, 1)]
    closing_at = member.blocks[-1][0]
    closing = bytearray(member.data[closing_at + BLOCK_HEADER:])
    struct.pack_into("<I", closing, 12, 0xFFFFFFF0)
    # The index cannot be loaded: every file comes back from its record.
    cases.append(("image length", replace_block(member.data, closing_at, bytes(closing)), 0, 5))
    cases.append(("record path", escaping_record(member), 1, 4))
    huge = bytearray(member.data)
    struct.pack_into("<I", huge, 40, 0x20000000)  # the largest block size a header may give
    # abs.txt's record, its stored and data lengths both as large as that
    struct.pack_into("<IHI", huge, member.blocks[0][0], 0x1FFFFFF0, 1, 0x1FFFFFF0)
    cases.append(("block length", bytes(huge), 1, 4))

    beside = set(os.listdir(work)) | {"crafted_out"}
    for label, data, refused, restored in cases:
        open(path, "wb").write(data)
        out = os.path.join(work, "crafted_out")
        shutil.rmtree(out, ignore_errors=True)
        restore = tool.run("restore", path, "--to", out, "--json", "--quiet")
        verify = tool.run("verify", path, "--json", "--quiet")
        said = (restore.stdout + restore.stderr + verify.stdout + verify.stderr).decode(errors="replace")
        if restore.returncode != 1 or verify.returncode != 1:
            raise Failure(f"crafted {label}: restore exit {restore.returncode}, verify exit {verify.returncode}")
        if "memory" in said or "storage" in said:
            raise Failure(f"crafted {label}: ran out of memory: {said}")
        if set(os.listdir(work)) | {"crafted_out"} != beside or os.path.exists("/tmp/zz"):
            raise Failure(f"crafted {label}: restore wrote outside its folder: {os.listdir(work)}")
        written = [os.path.join(d, n) for d, _, names in os.walk(out) for n in names]
        failed = json.loads(restore.stdout)["failed"] if restore.stdout.strip() else []
        if len(failed) != refused or len(written) != restored:
            raise Failure(f"crafted {label}: failed {failed}, wrote {written}: {said}")
        if refused == 4 and not written[0].endswith("good.txt"):
            raise Failure(f"crafted {label}: wrote {written}")


def plain_block(data, offset, payload):
    """The stream with the block at `offset` holding `payload` stored as it
    is: its compressed mark cleared, its lengths and checksum made anew."""
    kind_at = offset + 4
    kind = struct.unpack_from("<H", data, kind_at)[0]
    if kind & 0x2000:
        raise Failure("an encrypted block cannot be rewritten")
    data = data[:kind_at] + struct.pack("<H", kind & ~0x1000) + data[kind_at + 2:]
    return replace_block(data, offset, payload)


def with_entry_size(member, name, size, flags=None):
    """The stream of `member` with the index entry of file `name` giving
    `size` bytes (and, when given, `flags` in its user data, as archives
    written before files were marked have 0 there); the index is one block
    (compressed or not)."""
    index_at = member.blocks[-2][0]
    image = member.payload(len(member.blocks) - 2)
    closing = member.payload(len(member.blocks) - 1)
    if image is None or struct.unpack_from("<I", closing, 12)[0] != len(image):
        raise Failure("the index is not one block")
    image = bytearray(image)
    at = image.find(name.encode("utf-16-le") + b"\0\0")
    entry = at - 84
    if at < 84 or at % 2 or struct.unpack_from("<H", image, entry + 2)[0] != 86:
        raise Failure(f"no entry {name} in the index")
    struct.pack_into("<Q", image, entry + 64, size)
    if flags is not None:
        user_data = entry + struct.unpack_from("<H", image, entry + 26)[0]
        struct.pack_into("<H", image, user_data + 16, flags)
    data = bytearray(plain_block(member.data, index_at, bytes(image)))
    # Stored plain, a compressed index grows: the closing record after it
    # moves, and the header says where it and the end of the data are.
    moved = len(data) - len(member.data)
    for field in (181, 189):
        at = member.start + field
        struct.pack_into("<Q", data, at, struct.unpack_from("<Q", data, at)[0] + moved)
    return bytes(data)


def write_sparse(path, size, pieces):
    """A file of `size` bytes holding `pieces` {offset: bytes}, holes between."""
    with open(path, "wb") as out:
        for offset, piece in pieces.items():
            out.seek(offset)
            out.write(piece)
        out.truncate(size)


def sizes(tool, work):
    """Index entries whose size disagrees with the content saved (2^62 bytes
    for 6, one byte less or more; runs of a file with holes ending past it,
    or overlapping):
    verify names exactly that file as damaged, restore refuses it and
    brings back every other file as saved; untouched, such archives are
    sound and restore whole."""
    source = os.path.join(work, "sizes")
    os.makedirs(source)
    contents = {"six.txt": b"hello\n", "other.txt": b"other text\n" * 30,
                "more.bin": random.Random(12).randbytes(5000)}
    for name, content in contents.items():
        open(os.path.join(source, name), "wb").write(content)
    tail = 5 << 19  # 2.5 MiB
    write_sparse(os.path.join(source, "holes.bin"), 3 << 20, {0: b"head" * 1024, tail: b"tail"})
    contents["holes.bin"] = open(os.path.join(source, "holes.bin"), "rb").read()
    prefix = drive_path(source) + "\\"

    def run(label, path, expect_damaged):
        verify = tool.run("verify", path, "--json", "--quiet")
        out = os.path.join(work, "sizes_out")
        shutil.rmtree(out, ignore_errors=True)
        restore = tool.run("restore", path, "--to", out, "--json", "--quiet")
        tree = os.path.join(out, "Kelvar_C") + os.path.abspath(source)
        damaged = {d["path"].replace(prefix, ""): d["reason"] for d in json.loads(verify.stdout)["damaged"]}
        failed = [f["path"].replace(prefix, "") for f in json.loads(restore.stdout)["failed"]]
        wanted = 1 if expect_damaged else 0
        if verify.returncode != wanted or restore.returncode != wanted:
            raise Failure(f"sizes {label}: verify exit {verify.returncode} {damaged}, restore exit "
                          f"{restore.returncode} {failed}")
        named = [expect_damaged[0]] if expect_damaged else []
        if list(damaged) != named or failed != named:
            raise Failure(f"sizes {label}: verify named {damaged}, restore failed {failed}")
        if expect_damaged and expect_damaged[1] not in damaged[named[0]]:
            raise Failure(f"sizes {label}: verify says {damaged[named[0]]!r}, not {expect_damaged[1]!r}")
        for name, content in contents.items():
            restored = os.path.join(tree, name)
            if name in named:
                if os.path.lexists(restored):
                    raise Failure(f"sizes {label}: {name} was restored")
            elif not os.path.isfile(restored) or open(restored, "rb").read() != content:
                raise Failure(f"sizes {label}: {name} not restored as saved")

    for kind, options in [("plain", ["--no-compress"]), ("compressed", [])]:
        folder = os.path.join(work, f"sizes_{kind}")
        done = tool.run("backup", source, "--to", folder, "--name", "sz", *options, "--quiet")
        if done.returncode != 0:
            raise Failure(f"sizes backup: {done.stderr.decode(errors='replace')}")
        path = os.path.join(folder, "sz.QVA")
        member = Member([path])
        run(f"{kind} as written", path, None)
        claims = [1 << 62] + ([5, 7] if kind == "plain" else [])
        for claim in claims:
            open(path, "wb").write(with_entry_size(member, "six.txt", claim))
            run(f"{kind} six.txt claiming {claim}", path,
                ("six.txt", f"its index gives it {claim} bytes, its data holds 6"))
        # Marked as changed while read, or written before files were marked
        # (flags 0): any length is what was read, restored as saved.
        for flags in (0x0003, 0x0000):
            open(path, "wb").write(with_entry_size(member, "six.txt", 7, flags))
            run(f"{kind} six.txt claiming 7 with flags {flags}", path, None)
        # A file with holes is saved as runs where the file system reports
        # its holes; their end, past the hole at 2.5 MiB, must lie within
        # its size.
        runs = [b for b in range(len(member.blocks)) if member.payload(b) is not None
                and member.payload(b)[27:27 + 18] == "holes.bin".encode("utf-16-le")]
        if kind == "plain" and runs and struct.unpack_from("<I", member.payload(runs[0]), 19)[0] == 2:
            open(path, "wb").write(with_entry_size(member, "holes.bin", tail))
            run("runs past the size", path, ("holes.bin", f"past the {tail} bytes its index gives it"))
            # The first run moved onto the second: its block's checksum made
            # anew, the runs overlap.
            first = runs[0] + 1
            moved = struct.pack("<Q", tail) + member.payload(first)[8:]
            open(path, "wb").write(replace_block(member.data, member.blocks[first][0], moved))
            run("runs out of order", path, ("holes.bin", f"its runs of data are out of order or overlap at {tail}"))
        elif kind == "plain":
            print("archive damage: this file system reports no holes; runs of data not checked")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("qvbackup")
    parser.add_argument("work")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--rounds", type=int, default=2)
    args = parser.parse_args()
    driver = Driver(Tool(args.qvbackup), args.work, args.seed, args.rounds)
    try:
        for kind in KINDS:
            driver.damage(kind)
        crafted(driver.tool, args.work)
        chunked(driver.tool, args.work)
        sizes(driver.tool, args.work)
    except Failure as failure:
        print(f"archive damage: {failure}", file=sys.stderr)
        return 1
    print(f"archive damage: {driver.cases} damaged copies of {len(KINDS)} kinds, {driver.harmless} harmless, "
          f"{driver.salvaged} restored without their index, {driver.tool.runs} runs: all handled")
    return 0


if __name__ == "__main__":
    sys.exit(main())
