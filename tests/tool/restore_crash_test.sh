#!/usr/bin/env bash
# qvbackup restore killed (SIGKILL) at every rename, sync, change of mode
# and setting of times it makes below the target: whatever stands under a
# file's own name then is that file whole, with its saved mode, times and
# extended attributes, never a file still waiting for them; only temporary
# names hold what is unfinished. A restore run again afterwards completes
# the tree. The kills come from crash_shim.c at exact calls.
#   restore_crash_test.sh QVBACKUP
source "$(dirname "$0")/common.sh"
source "$(dirname "$0")/crash_shim.sh"
root=$(cd "$work" && pwd -P)
use_crash_shim "$root" "$qvbackup"

# Modes a new file never has (read-only, none for others, executable),
# times of their own to the nanosecond, an extended attribute where the
# file system keeps them, an empty file and one ending in a hole.
src=$root/src
mkdir -p "$src/a" "$src/b/c"
printf 'read only\n' > "$src/a/ro.txt"
printf '#!/bin/sh\necho hi\n' > "$src/a/run.sh"
head -c 70000 /dev/urandom > "$src/a/secret.bin"
: > "$src/b/empty"
printf 'deep\n' > "$src/b/c/deep.txt"
printf 'start' > "$src/b/holed.bin"
truncate -s 3M "$src/b/holed.bin"
python3 - "$src" << 'EOF'
import os, sys
src = sys.argv[1]
modes = {"a/ro.txt": 0o444, "a/run.sh": 0o750, "a/secret.bin": 0o600, "b/empty": 0o640,
         "b/c/deep.txt": 0o604, "b/holed.bin": 0o644}
for number, (name, mode) in enumerate(sorted(modes.items())):
    path = os.path.join(src, name)
    try:
        os.setxattr(path, "user.note", ("note %d" % number).encode())
    except OSError:
        pass
    os.chmod(path, mode)
    stamp = 1_500_000_000_123_456_789 + number * 86_400_000_000_007
    os.utime(path, ns=(stamp - 5_000_000_011, stamp))
EOF
"$qvbackup" backup "$src" --to "$root/arch" --name home --quiet > "$root/backup.out" 2>&1 ||
  fail "backup: $(cat "$root/backup.out")"

# check [complete] TREE...: every file of each TREE under its own name is
# the saved one in content, size, mode, modification time and user.*
# attributes; with "complete", each TREE holds every saved file.
check() {
  python3 - "$src" "$@" << 'EOF' > "$root/check.err" 2>&1 || fail "$(cat "$root/check.err")"
import os, sys
src, trees = sys.argv[1], sys.argv[2:]
complete = trees[0] == "complete"
if complete:
    trees = trees[1:]
def attributes(path):
    try:
        return {n: os.getxattr(path, n) for n in os.listxattr(path) if n.startswith("user.")}
    except OSError:
        return {}
def files(top):
    found = {}
    for folder, _, names in os.walk(top):
        for name in names:
            if name.startswith("~qv") and name.endswith(".tmp"):
                continue
            path = os.path.join(folder, name)
            found[os.path.relpath(path, top)] = path
    return found
saved = files(src)
problems = []
for tree in trees:
    restored = files(tree) if os.path.isdir(tree) else {}
    for name, path in sorted(restored.items()):
        if name not in saved:
            problems.append("%s: %s was never saved" % (tree, name))
            continue
        a, b = os.lstat(saved[name]), os.lstat(path)
        if open(saved[name], "rb").read() != open(path, "rb").read():
            problems.append("%s: %s has other content" % (tree, name))
        if (a.st_mode & 0o7777, a.st_mtime_ns) != (b.st_mode & 0o7777, b.st_mtime_ns):
            problems.append("%s: %s has mode %o time %d, saved %o %d" % (
                tree, name, b.st_mode & 0o7777, b.st_mtime_ns, a.st_mode & 0o7777, a.st_mtime_ns))
        if attributes(saved[name]) != attributes(path):
            problems.append("%s: %s has other extended attributes" % (tree, name))
    if complete and sorted(restored) != sorted(saved):
        problems.append("%s misses %s" % (tree, sorted(set(saved) - set(restored))))
if problems:
    sys.stderr.write("\n".join(problems) + "\n")
    sys.exit(1)
EOF
}
below() { echo "$1/Kelvar_C$src"; }
shimmed() {
  local target=$1
  shift
  env LD_PRELOAD="$preload" QV_CRASH_DIR="$target" ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
    "$@" "$qvbackup" restore "$root/arch/home.QVA" --to "$target" --quiet > "$root/run.out" 2> "$root/run.err"
}

# The whole run once, counting what it does below the target.
mkdir -p "$root/whole"
shimmed "$root/whole" QV_CRASH_COUNT="$root/counts" || fail "restore: $(cat "$root/run.out" "$root/run.err")"
check complete "$(below "$root/whole")"

# A restore of its own for each kill; all of them checked at the end.
trees=()
for op in rename sync mode times; do
  total=$(awk -v op="$op" '$1 == op { print $2 }' "$root/counts")
  [[ $total -ge 6 ]] || fail "the restore makes $total ${op} calls below the target, fewer than its files"
  for ((at = 1; at <= total; at++)); do
    out=$root/kill.$op.$at
    mkdir -p "$out"
    code=0
    (shimmed "$out" QV_CRASH_OP="$op" QV_CRASH_AT="$at") 2> /dev/null || code=$?
    [[ $code == 137 ]] || fail "the kill at $op $at of $total: the run exits $code: $(cat "$root/run.err")"
    trees+=("$(below "$out")")
  done
done
check "${trees[@]}"

# Run again over what the last kill left, the tree comes out whole.
"$qvbackup" restore "$root/arch/home.QVA" --to "$out" --quiet > "$root/run.out" 2>&1 ||
  fail "the restore run again after a kill: $(cat "$root/run.out")"
check complete "$(below "$out")"
echo "restore crash test: ${#trees[@]} kills, every file under its name whole with its metadata"
