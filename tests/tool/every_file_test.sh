#!/usr/bin/env bash
# Does the restore give back what was there? A tree with what Linux folders
# hold beyond plain files (modes with set-id and sticky bits, owners,
# folder times and modes, empty folders, symbolic links to files, to
# folders and to nothing, hard links, extended attributes, names that
# differ only in case) is backed up, changed and backed up again as an
# increment, and restored; a comparison that reads what lstat, readlink and
# getxattr say finds every item as it was. Restored by root, owners come
# back; restored by another user (nobody), everything but the owners does,
# and nothing fails.
#   every_file_test.sh QVBACKUP
source "$(dirname "$0")/common.sh"
root=$(cd "$work" && pwd -P)
chmod 755 "$root"
src=$root/src
mkdir -p "$src/docs/Deep" "$src/DOCS" "$src/empty" "$src/private" "$src/readonly/inside" "$src/sticky"
echo "plain" > "$src/docs/plain.txt"
echo "upper" > "$src/DOCS/plain.txt"
echo "secret key" > "$src/private/id_key"
chmod 600 "$src/private/id_key"
chmod 700 "$src/private"
printf '#!/bin/sh\necho hi\n' > "$src/docs/run.sh"
chmod 755 "$src/docs/run.sh"
echo "set-id" > "$src/docs/setid"
chmod 6750 "$src/docs/setid"
chmod 1777 "$src/sticky"
head -c 300000 /dev/urandom > "$src/docs/Deep/data.bin"
ln "$src/docs/Deep/data.bin" "$src/docs/second name.bin"
ln "$src/docs/Deep/data.bin" "$src/hard3"
ln -s plain.txt "$src/docs/to_file"
ln -s ../docs "$src/DOCS/to_folder"
ln -s "/nowhere/at all" "$src/dangling"
echo "inside" > "$src/readonly/inside/f.txt"
# A file of 64 MiB with two stretches of data: it comes back with its holes.
truncate -s 64M "$src/docs/disk.img"
head -c 100000 /dev/urandom | dd of="$src/docs/disk.img" bs=4096 seek=1000 conv=notrunc status=none
head -c 5000 /dev/urandom | dd of="$src/docs/disk.img" bs=4096 seek=15000 conv=notrunc status=none
python3 - "$src" << 'PY'
import os, sys
src = sys.argv[1]
for path, name, value in [("docs/plain.txt", "user.comment", b"first words"),
                          ("docs/Deep/data.bin", "user.checksum", bytes(range(40))),
                          ("private", "user.purpose", b"keys")]:
    try:
        os.setxattr(os.path.join(src, path), name, value)
    except OSError as error:  # a file system without user attributes
        print("no extended attributes here:", error)
PY
if [[ $(id -u) == 0 ]]; then
  chown -R 1234:2345 "$src/docs"
  chown -h 3456:4567 "$src/docs/to_file"
fi
# Times last, folders after what is in them.
find "$src" -depth -exec touch -h -d '2021-06-15 10:20:30.123456789' {} +
touch -h -d '2019-01-02 03:04:05.5' "$src/docs/Deep" "$src/docs/to_file" "$src/empty"
chmod 555 "$src/readonly"

run() { "$qvbackup" "$@" > "$root/out.txt" 2>&1 || fail "qvbackup $*: $(cat "$root/out.txt")"; }
run backup "$src" --to "$root/arch" --name all --json
python3 - "$root/out.txt" << 'PY' || fail "the backup report: $(cat "$root/out.txt")"
import json, sys
report = json.load(open(sys.argv[1]))
# data.bin and its two other names count as files, its bytes once; the
# link to a folder is a link; empty and sticky are the empty folders.
assert report["files"] == 10 and report["links"] == 3 and report["folders"] == 2, report
assert report["skipped"] == [] and report["changed"] == [], report
assert report["bytes"] == 300000 + 6 + 6 + 11 + 18 + 7 + 7 + (64 << 20), report["bytes"]  # data.bin once
# The holes are not stored.
assert report["archive_bytes"] < 1 << 20, report["archive_bytes"]
PY

# The comparison: every item below each tree, by its path.
cat > "$root/compare.py" << 'PY'
import hashlib, os, stat, sys

def items(top, owners):
    found = {}
    for folder, folders, files in os.walk(top):
        for name in folders + files + ([""] if folder == top else []):
            path = os.path.join(folder, name) if name else folder
            status = os.lstat(path)
            kind = stat.S_IFMT(status.st_mode)
            item = {"kind": kind, "mtime": status.st_mtime_ns}
            if kind != stat.S_IFLNK:
                item["mode"] = stat.S_IMODE(status.st_mode) & mode_mask
                try:
                    item["xattrs"] = {n: os.getxattr(path, n) for n in os.listxattr(path) if n.startswith("user.")}
                except OSError:
                    item["xattrs"] = {}
            if owners:
                item["owner"] = (status.st_uid, status.st_gid)
            if kind == stat.S_IFLNK:
                item["target"] = os.readlink(path)
            if kind == stat.S_IFREG:
                item["sha"] = hashlib.sha256(open(path, "rb").read()).hexdigest()
                # Holes: a file taking less than half its size on disk.
                item["sparse"] = status.st_blocks * 512 < status.st_size // 2
                item["links"] = status.st_nlink
                item["inode"] = status.st_ino
            found[os.path.relpath(path, top)] = item
    return found

def same_files(tree):
    groups = {}
    for path, item in tree.items():
        if "inode" in item:
            groups.setdefault(item.pop("inode"), []).append(path)
    return sorted(sorted(group) for group in groups.values())

source, restored, owners, mode_mask = sys.argv[1], sys.argv[2], sys.argv[3] == "owners", int(sys.argv[4], 8)
a, b = items(source, owners), items(restored, owners)
problems = []
if same_files(a) != same_files(b):
    problems.append(f"hard links: {same_files(a)} became {same_files(b)}")
for path in sorted(set(a) | set(b)):
    if path not in b:
        problems.append(f"{path}: not restored")
    elif path not in a:
        problems.append(f"{path}: restored, never saved")
    elif a[path] != b[path]:
        diff = {k: (a[path].get(k), b[path].get(k)) for k in set(a[path]) | set(b[path]) if a[path].get(k) != b[path].get(k)}
        problems.append(f"{path}: {diff}")
if problems:
    sys.exit("\n".join(problems))
PY
compare() {  # compare RESTORED owners|no-owners MODE_MASK WHAT
  python3 "$root/compare.py" "$src" "$1" "$2" "$3" > "$root/compare.txt" 2>&1 ||
    fail "$4: the restore is not what was saved:
$(cat "$root/compare.txt")"
}
owners=no-owners
[[ $(id -u) != 0 ]] || owners=owners
restore_into() {  # restore_into FOLDER [RUNNER...]
  local folder=$1
  shift
  rm -rf "$folder"
  mkdir -p "$folder"
  [[ $# == 0 ]] || chown nobody "$folder"
  "$@" "$qvbackup_copy" restore "$root/arch/all.QVA" --to "$folder" --json > "$root/restore.json" 2> "$root/restore.err" ||
    fail "restore into $folder: $(cat "$root/restore.json" "$root/restore.err")"
}
cp "$qvbackup" "$root/qvbackup"
cp "$(dirname "$qvbackup")/GpExt.xml" "$root/" 2> /dev/null || true
qvbackup_copy=$root/qvbackup
restore_into "$root/back"
grep -q '"metadata_not_restored": *\[\]' "$root/restore.json" || fail "metadata not restored: $(cat "$root/restore.json")"
compare "$root/back/Kelvar_C$src" "$owners" 7777 "the full backup"

# Changed, then an increment: the restore of the chain is the new state.
chmod 640 "$src/docs/plain.txt"
echo "plain, second version" > "$src/docs/plain.txt"
mkdir "$src/new empty"
ln -s DOCS/plain.txt "$src/new link"
touch -h -d '2022-02-02 02:02:02.2' "$src/docs/plain.txt" "$src/new empty" "$src/new link" "$src/docs" "$src"
run backup "$src" --to "$root/arch" --name all --incremental --json
grep -q '"increment": *1' "$root/out.txt" || fail "no increment: $(cat "$root/out.txt")"
restore_into "$root/back2"
compare "$root/back2/Kelvar_C$src" "$owners" 7777 "the chain"

# Restored by a user who is not root: the items are theirs, the rest is as
# it was (a set-group-id bit outside the user's groups is the system's to
# drop), and no owner is reported as missing.
if [[ $(id -u) == 0 ]] && command -v setpriv > /dev/null; then
  # (The archive is its owner's only: this user is let read it.)
  chmod a+r "$root"/arch/*
  restore_into "$root/back3" setpriv --reuid=nobody --regid=nogroup --clear-groups
  grep -q '"metadata_not_restored": *\[\]' "$root/restore.json" || fail "as nobody: $(cat "$root/restore.json")"
  compare "$root/back3/Kelvar_C$src" no-owners 5777 "the restore by nobody"
  owner=$(find "$root/back3/Kelvar_C$src" -printf '%u\n' | sort -u)
  [[ $owner == nobody ]] || fail "the restore by nobody gives items to $owner"
fi
chmod -R u+w "$root"/back* "$src"
