#!/usr/bin/env bash
# qvbackup backup killed (SIGKILL) at chosen calls: whatever the moment,
# the archive's last completed backup restores byte for byte, list and
# verify accept it, and the next run of the same command succeeds without
# help, leaving only the archive's own files. A kill before the new member
# was committed leaves the previous backup; one after leaves the new one;
# never a mix. Also: a second run of an archive being written stops at
# once with exit status 3, and a lock left by a killed run holds nobody up.
#   crash_test.sh QVBACKUP
#
# The kills come from crash_shim.c, preloaded into qvbackup: it counts the
# writes, syncs, renames and removals made below the archive folder and
# sends SIGKILL at the N-th of one kind. A run with --threads 1 makes the
# same calls every time, so a complete run's totals tell every point there
# is. Cases:
#   full       a full backup over a chain (base and two increments) of its
#              name
#   increment  an increment on top of such a chain, encrypted
#   split      a full backup in 4M volumes over a split archive of its name
#              that has more volumes and an increment
# For each: kills at the first and last writes (the lock holder, the header;
# the index, the closing record, the header rewritten) and at seeded random
# ones, at every sync, rename and removal; after every kill that leaves
# files behind (a fourth of those at writes) the next run is killed too
# while it clears them away; two kills in a run with the default threads.
#
# Settings (environment):
#   QV_CRASH_MB      source tree size in MB (default 8)
#   QV_CRASH_POINTS  kill points among the writes of each case (default 10;
#                    every sync, rename and removal is a kill point anyway)
#   QV_CRASH_SEED    seed of the tree and of the random kill points
#   QV_CRASH_VOLUME  volume size of the split case (default 4M)
#   QV_CRASH_TMP     where the work folder goes (default /dev/shm if it has
#                    room, else TMPDIR or /tmp)
# The full-size check, by hand (about half an hour here):
#   QV_CRASH_MB=300 QV_CRASH_POINTS=40 bash tests/tool/crash_test.sh build/default/bin/qvbackup
mb=${QV_CRASH_MB:-8}
points=${QV_CRASH_POINTS:-10}
seed=${QV_CRASH_SEED:-20261208}
volume_size=${QV_CRASH_VOLUME:-4M}
# Each check restores the whole tree, and the restore syncs every file: on
# a disk that is most of the time. The work folder goes to /dev/shm when it
# has room for the dozen copies of the tree the test keeps, unless
# QV_CRASH_TMP names another place. (Where it is changes nothing checked.)
temp=${QV_CRASH_TMP:-}
if [[ -z $temp && -d /dev/shm && -w /dev/shm && $mb =~ ^[0-9]+$ ]] &&
  (($(df -Pm /dev/shm | awk 'NR == 2 {print $4}') > 16 * mb + 256)); then
  temp=/dev/shm
fi
TMPDIR=${temp:-${TMPDIR:-/tmp}} source "$(dirname "$0")/common.sh"
source "$(dirname "$0")/crash_shim.sh"
[[ $mb =~ ^[0-9]+$ && $mb -ge 8 && $points =~ ^[0-9]+$ && $points -ge 7 && $seed =~ ^[0-9]+$ ]] ||
  fail "QV_CRASH_MB must be at least 8, QV_CRASH_POINTS at least 7, QV_CRASH_SEED a number"
RANDOM=$seed
started=$SECONDS

# Paths as the kernel names them, since the shim compares them with what
# /proc/self/fd says.
root=$(cd "$work" && pwd -P)
src=$root/src
arch=$root/arch
mkdir -p "$src" "$arch" "$root/snap" "$root/pristine"
use_crash_shim "$root" "$qvbackup"
export QV_TEST_PASSWORD='crash pw'

# The source trees: text that compresses and random bytes that do not,
# some files above a megabyte. `make ROOT SEED MB` fills ROOT; `change ROOT
# SEED DAY keep|delete` rewrites some files (their sizes change), grows
# some, adds a few, removes some with `delete` (never the last of a folder),
# and gives every file it touches a time of its DAY; `extra ROOT SEED MB`
# adds random files below ROOT/extra.
cat > "$root/tree.py" <<'PY'
import os, random, sys
command, root, seed = sys.argv[1], sys.argv[2], int(sys.argv[3])
rng = random.Random(seed)
words = ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 10))) for _ in range(3000)]

def text(size):
    lines, length = [], 0
    while length < size:
        line = " ".join(rng.choices(words, k=12)) + " %d\n" % rng.getrandbits(20)
        lines.append(line)
        length += len(line)
    return "".join(lines).encode()[:size]

def put(path, size, when, random_bytes=None):
    if random_bytes is None:
        random_bytes = path.endswith(".bin")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(rng.randbytes(size) if random_bytes else text(size))
    os.utime(path, (when, when))

def files():
    return sorted(os.path.join(d, n) for d, _, names in os.walk(root) for n in names)

if command == "make":
    left, number = int(sys.argv[4]) << 20, 0
    while left > 0:
        size = min(left, rng.randint(1 << 20, 4 << 20) if number % 25 == 0 else rng.randint(0, 300 << 10))
        left -= size
        kind = "bin" if rng.random() < 0.5 else "txt"
        put(os.path.join(root, "d%02d" % (number % 17), "s%d" % (number % 3), "f%04d.%s" % (number, kind)),
            size, 1500000000 + number)
        number += 1
elif command == "change":
    day, mode = int(sys.argv[4]), sys.argv[5]
    when = 1600000000 + day * 86400
    present = files()
    for path in rng.sample(present, max(1, len(present) // 12)):
        old = os.path.getsize(path)
        size = old + rng.randint(1, 40000) if old < 60000 or rng.random() < 0.5 else old - rng.randint(1, old // 2)
        put(path, size, when)
    for path in rng.sample(present, max(1, len(present) // 20)):
        with open(path, "ab") as f:
            f.write(b"grown on day %d\n" % day)
        os.utime(path, (when, when))
    for number in range(6):
        size = rng.randint(1 << 20, 2 << 20) if number == 0 else rng.randint(1, 80000)
        folder = "new%d" % day if number % 2 else os.path.dirname(rng.choice(present))
        put(os.path.join(root, folder, "day%d_%d.%s" % (day, number, "bin" if number % 3 == 0 else "txt")),
            size, when + number)
    if mode == "delete":
        for path in rng.sample(present, max(1, len(present) // 20)):
            if os.path.exists(path) and len(os.listdir(os.path.dirname(path))) > 1:
                os.remove(path)
elif command == "extra":
    left, number = int(sys.argv[4]) << 20, 0
    while left > 0:
        size = min(left, 3 << 20)
        put(os.path.join(root, "extra", "e%d.bin" % number), size, 1550000000 + number)
        left -= size
        number += 1
PY
tree() { python3 "$root/tree.py" "$@" || fail "cannot make the source tree ($*)"; }
tree_seed() { echo $((seed + $1)); }
snapshot() { rm -rf "$root/snap/$1" && cp -a "$src" "$root/snap/$1"; }
use_state() { rm -rf "$src" && cp -a "$root/snap/$1" "$src"; }

# attempt OUT ERR COMMAND...: runs COMMAND with its output in OUT and ERR
# (the shell's word of a killed process included) and sets `code`.
attempt() {
  local out=$1 err=$2
  shift 2
  set +e
  { "$@"; } > "$out" 2> "$err"
  code=$?
  set -e
}
# shimmed VAR=VALUE... COMMAND...: COMMAND with the shim watching $arch.
shimmed() {
  env LD_PRELOAD="$preload" QV_CRASH_DIR="$arch" ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" "$@"
}
names() { ls "$arch" | tr '\n' ' '; }

# Failure reports name the case and the kill point, show the archive
# folder and the output of the commands named.
where=
state() {
  printf '\n--- %s:\n' "$arch"
  ls -la "$arch"
  local file
  for file in "$@"; do
    [[ -e $root/$file ]] || continue
    printf -- '--- %s:\n' "$file"
    head -c 3000 "$root/$file"
  done
}
die() { fail "$where: $1$(state "${@:2}")"; }

# readers: list, verify and restore of $arch/$first succeed, and the
# restored tree is either $old or $new; `outcome` says which.
readers() {
  attempt "$root/list.out" "$root/list.err" "$qvbackup" list "$arch/$first" "${pw[@]}"
  [[ $code == 0 && -s $root/list.out ]] || die "list exits $code" list.out list.err run.err
  attempt "$root/verify.out" "$root/verify.err" "$qvbackup" verify "$arch/$first" "${pw[@]}"
  [[ $code == 0 ]] && grep -q ': sound$' "$root/verify.out" || die "verify exits $code" verify.out verify.err run.err
  restored
}
# restored: the same for the restore alone.
restored() {
  rm -rf "$root/out"
  attempt "$root/restore.out" "$root/restore.err" "$qvbackup" restore "$arch/$first" --to "$root/out" --quiet "${pw[@]}"
  [[ $code == 0 ]] || die "restore exits $code" restore.out restore.err run.err
  local got=$root/out/Kelvar_C$src
  if diff -rq "$old" "$got" > "$root/diff.old" 2>&1; then
    outcome=old
  elif diff -rq "$new" "$got" > "$root/diff.new" 2>&1; then
    outcome=new
  else
    die "the restored files are neither the previous backup nor the new one" diff.old diff.new run.err
  fi
  rm -rf "$root/out"
}

# The case at hand: $case_name, whose archive folder starts as
# $root/pristine/$case_name, its last backup being the tree $old and the
# new one $new; the options of its backup command, "${run[@]}" (and
# "${pw[@]}" for the readers); $first, the first volume file of the
# archive; $member, that of the member being written.
reset() { rm -rf "$arch" && cp -a "$root/pristine/$case_name" "$arch"; }

# rerun: the same backup, undisturbed and with the default threads,
# succeeds, leaves what a clean run from the start leaves ($final) and
# restores to the new source.
rerun() {
  attempt "$root/run.out" "$root/run.err" "$qvbackup" backup "$src" --to "$arch" "${run[@]}" --quiet
  [[ $code == 0 ]] || die "the next backup exits $code" run.out run.err
  [[ $(names) == "$final" ]] || die "the next backup leaves $(names)instead of $final" run.err
  restored
  [[ $outcome == new ]] || die "after the next backup the restore gives the previous state" run.out
}

# kill_at OP N [THREADS]: a run killed at its N-th OP, checked, then the
# next run. A kill at a call made before the commit (the rename that gives
# the new member's first volume its ".qvnew" name, or its final one when it
# is a single file) leaves the previous backup; a later one leaves the new
# backup. THREADS: the run with the default threads, whose calls may come
# in another order: either backup may be left, except that a member seen
# committed (a ".qvnew" first volume) is the one restored; its kill may not
# land, and then the run must have made the new backup.
kills=0
kill_at() {
  local op=$1 at=$2 threads=${3:-} expected=
  local thread_args=(--threads 1)
  [[ -z $threads ]] || thread_args=()
  where="$case_name: killed at $op $at"
  if [[ -z $threads ]]; then
    expected=new
    ((${seq[$op $at]} > commit)) || expected=old
    where+=" (${what[$op $at]}, $((${seq[$op $at]} - commit)) calls from the commit)"
  else
    where+=" (default threads)"
  fi
  reset
  attempt "$root/run.out" "$root/run.err" shimmed QV_CRASH_OP="$op" QV_CRASH_AT="$at" "$qvbackup" backup "$src" \
    --to "$arch" "${run[@]}" --quiet "${thread_args[@]}"
  kills=$((kills + 1))
  if [[ -n $threads && $code == 0 ]]; then
    readers
    [[ $outcome == new ]] || die "the run ended well and the restore gives the previous state" run.out
    rerun
    return
  fi
  [[ $code == 137 ]] || die "the run exits $code instead of being killed" run.out run.err
  readers
  [[ -z $expected || $outcome == "$expected" ]] || die "the restore gives the $outcome backup"
  if [[ -e $arch/$member.qvnew ]]; then
    [[ $outcome == new ]] || die "the new member is committed ($member.qvnew) and the restore gives the previous state"
  fi
  # The files of the previous backup are all there as they were, while it
  # is the one restored, and always beside a new increment.
  if [[ $outcome == old || $member != "$first" ]]; then
    local kept
    for kept in "$root/pristine/$case_name"/*; do
      cmp -s "$kept" "$arch/${kept##*/}" || die "${kept##*/} of the previous backup is changed or gone"
    done
  fi
  local left
  left=$(ls "$arch" | grep -cE '\.qv(tmp|new)$' || true)
  if ((left > 0)) && [[ $((kills % 4)) == 0 || $op != write ]]; then
    # The next run killed while it clears away what this one left: a
    # committed member being moved into place (renames), else removals.
    local op2=unlink count=$left
    if [[ -e $arch/$member.qvnew ]]; then
      op2=rename
      count=$(ls "$arch" | grep -c '\.qvnew$')
    fi
    local at2=$((1 + RANDOM % count)) before=$outcome
    where="$where, then the next run killed at its $op2 $at2 of $count left"
    attempt "$root/run.out" "$root/run.err" shimmed QV_CRASH_OP="$op2" QV_CRASH_AT="$at2" "$qvbackup" backup "$src" \
      --to "$arch" "${run[@]}" --quiet --threads 1
    [[ $code == 137 ]] || die "the next run exits $code instead of being killed" run.out run.err
    readers
    [[ $outcome == "$before" ]] || die "the restore gave the $before backup before this kill, the $outcome one after"
  fi
  rerun
}

# count [THREADS]: a complete run from the case's start with every call
# counted; sets W S R U (writes, syncs, renames, removals). With --threads 1
# it also reads the order of the calls: `seq` and `what` give the place in
# it and the file of "OP N", `commit` the place of the commit.
declare -A seq what
count() {
  local thread_args=(--threads 1)
  [[ -z ${1:-} ]] || thread_args=()
  where="$case_name: the counted run${1:+ (default threads)}"
  reset
  attempt "$root/run.out" "$root/run.err" shimmed QV_CRASH_COUNT="$root/counts" QV_CRASH_TRACE="$root/trace" \
    "$qvbackup" backup "$src" --to "$arch" "${run[@]}" --quiet "${thread_args[@]}"
  [[ $code == 0 && -s $root/counts ]] || die "the run exits $code" run.out run.err
  [[ -z ${final:-} || $(names) == "$final" ]] || die "a clean run leaves $(names)and another leaves $final"
  final=$(names)
  [[ $final != *qvtmp* && $final != *qvnew* && $final != *qvlock* ]] || die "a clean run leaves $final"
  readers
  [[ $outcome == new ]] || die "the restore gives the previous state" run.out
  W=$(awk '$1 == "write" {print $2}' "$root/counts")
  S=$(awk '$1 == "sync" {print $2}' "$root/counts")
  R=$(awk '$1 == "rename" {print $2}' "$root/counts")
  U=$(awk '$1 == "unlink" {print $2}' "$root/counts")
  ((W > 20 && S > 0 && R > 0 && U > 0)) || die "counted $(tr '\n' ' ' < "$root/counts")"
  [[ -n ${1:-} ]] && return
  [[ $(wc -l < "$root/trace") == $((W + S + R + U)) ]] || die "the trace does not match the totals" counts
  seq=() what=() commit=
  local line=0 op number path other
  while read -r op number path other; do
    line=$((line + 1))
    seq[$op $number]=$line
    what[$op $number]=${path#"$arch/"}${other:+ from ${other#"$arch/"}}
    if [[ -z $commit && $op == rename && ($path == "$arch/$member.qvnew" || $path == "$arch/$member") ]]; then
      commit=$line
    fi
  done < "$root/trace"
  [[ -n $commit ]] || die "no rename of $member in the trace" trace
}

# between LOW HIGH: a seeded random number from LOW to HIGH.
between() { echo $(($1 + ((RANDOM << 15) | RANDOM) % ($2 - $1 + 1))); }

# crash_case NAME OLD FIRST MEMBER RUN...: the kills of one case.
crash_case() {
  case_name=$1 old=$root/snap/$2 first=$3 member=$4
  shift 4
  run=("$@")
  new=$src final=
  count
  local sw=$W ss=$S sr=$R su=$U
  # The first and last writes, random ones early, in the middle and late.
  local writes=(1 2 3 $((sw - 3)) $((sw - 2)) $((sw - 1)) "$sw") i
  for ((i = 7; i < points; ++i)); do
    case $((i % 3)) in
      0) writes+=("$(between 4 $((sw / 10 + 4)))") ;;
      1) writes+=("$(between $((sw / 10)) $((sw * 9 / 10)))") ;;
      2) writes+=("$(between $((sw * 9 / 10)) $((sw - 3)))") ;;
    esac
  done
  local at
  for at in $(printf '%s\n' "${writes[@]}" | sort -nu); do kill_at write "$at"; done
  for ((at = 1; at <= ss; ++at)); do kill_at sync "$at"; done
  for ((at = 1; at <= sr; ++at)); do kill_at rename "$at"; done
  for ((at = 1; at <= su; ++at)); do kill_at unlink "$at"; done
  # With the default threads: the totals of such a run, a kill among its
  # writes and one among its renames.
  count threads
  kill_at write "$(between $((W / 4)) $((W * 3 / 4)))" threads
  kill_at rename "$(between 1 "$R")" threads
  echo "crash test: $case_name: $((sw)) writes, $ss syncs, $sr renames, $su removals; killed $kills runs so far" \
    "($((SECONDS - started)) s)"
}

# --- The archives the backups replace or extend.
tree make "$src" "$(tree_seed 1)" "$mb"
pw=()
qv_save() { "$qvbackup" backup "$src" --to "$arch" --quiet --threads 1 "$@" > "$root/run.out" 2> "$root/run.err" ||
  fail "making the archives to replace: backup $*: $(cat "$root/run.out" "$root/run.err")"; }
# Two chains of the same states: home, and vault with a password.
pw_vault=(--password-env QV_TEST_PASSWORD)
qv_save --name home
qv_save --name vault "${pw_vault[@]}"
for day in 1 2; do
  tree change "$src" "$(tree_seed $((day + 1)))" "$day" keep
  qv_save --name home --incremental
  qv_save --name vault --incremental "${pw_vault[@]}"
done
[[ $(names) == "home.I1.QVA home.I2.QVA home.QVA vault.I1.QVA vault.I2.QVA vault.QVA " ]] ||
  fail "the chains to replace and extend: $(names)"
snapshot chain
where="the chain to replace" old=$root/snap/chain new=$root/snap/chain first=home.QVA
readers
where="the chain to extend" first=vault.QVA pw=("${pw_vault[@]}")
readers
mkdir -p "$root/pristine/full" "$root/pristine/increment"
mv "$arch"/home.* "$root/pristine/full"
mv "$arch"/vault.* "$root/pristine/increment"

# The split archive: the same files and some more in its base, which makes
# it more volumes than the backup that replaces it, and an increment.
tree extra "$src" "$(tree_seed 4)" $((mb / 5 + 4))
pw=()
qv_save --name split --volume-size "$volume_size"
tree change "$src" "$(tree_seed 5)" 3 keep
qv_save --name split --incremental
[[ $(names) == *split.I1.1.QVA* && $(names) == *split.3.QVA* ]] || fail "the split archive to replace: $(names)"
snapshot split
where="the split archive to replace" old=$root/snap/split new=$root/snap/split first=split.1.QVA
readers
mv "$arch" "$root/pristine/split"

# --- A full backup over the chain; the old increments it leaves beside the
# new base when killed before removing them must be ignored.
pw=()
use_state chain
tree change "$src" "$(tree_seed 6)" 4 delete
crash_case full chain home.QVA home.QVA --name home --replace
[[ $final == "home.QVA " ]] || fail "a full backup over a chain leaves $final"

# --- An increment on top of the encrypted chain (nothing deleted:
# increments do not record deletions).
pw=("${pw_vault[@]}")
use_state chain
tree change "$src" "$(tree_seed 7)" 5 keep
crash_case increment chain vault.QVA vault.I3.QVA --name vault --incremental "${pw[@]}"
[[ $final == "vault.I1.QVA vault.I2.QVA vault.I3.QVA vault.QVA " ]] || fail "an increment on the chain leaves $final"

# --- A split full backup over the split archive, with fewer volumes.
pw=()
use_state split
rm -rf "$src/extra"
tree change "$src" "$(tree_seed 8)" 6 delete
crash_case split split split.1.QVA split.1.QVA --name split --replace --volume-size "$volume_size"
[[ $final != *split.I1* && $final == *split.2.QVA* ]] || fail "a split full backup leaves $final"

# --- Two runs of one archive: the first is held at its 20th write (it holds
# the lock and is half-way through its volume) until $root/pause goes.
arch=$root/busy first=busy.QVA member=busy.QVA case_name=busy pw=()
mkdir -p "$arch"
qv_save --name busy
snapshot busy
tree change "$src" "$(tree_seed 9)" 7 delete
old=$root/snap/busy new=$src
hold() {
  hold_at "$root/pause" "$arch" write 20 "$root/held.out" "$root/held.err" \
    "$qvbackup" backup "$src" --to "$arch" --name busy --replace --quiet --threads 1
}
# What the folder holds, to the byte.
listing() { (cd "$arch" && ls -l --time-style=full-iso && md5sum -- *); }
where="a second run while the first writes the archive"
hold
[[ -e $arch/busy.qvlock && -e $arch/busy.QVA.qvtmp ]] || die "no lock or no volume being written while the first run writes"
listing > "$root/listing.before"
for extra in --replace --incremental; do
  attempt "$root/second.out" "$root/second.err" timeout 300 "$qvbackup" backup "$src" --to "$arch" --name busy \
    --quiet --threads 1 $extra
  [[ $code == 3 ]] || die "the second run${extra:+ ($extra)} exits $code" second.out second.err
  grep -q "^qvbackup: busy: the archive is in use by another run (process $held_pid\\b" "$root/second.err" ||
    die "the second run${extra:+ ($extra)} does not say who holds the archive" second.err
done
listing > "$root/listing.after"
diff "$root/listing.before" "$root/listing.after" > "$root/listing.diff" || die "the refused runs changed the folder" listing.diff
# Readers meanwhile see the previous backup, and another archive of the
# same folder is not held up.
readers
[[ $outcome == old ]] || die "while the first run writes, the restore gives its new backup"
attempt "$root/other.out" "$root/other.err" "$qvbackup" backup "$src" --to "$arch" --name other --quiet --threads 1
[[ $code == 0 ]] || die "another archive of the folder exits $code" other.out other.err
rm -f "$arch"/other.*
rm "$root/pause"
reap
[[ $code == 0 ]] || die "the first run, let go, exits $code" held.out held.err
[[ $(names) == "busy.QVA " ]] || die "the first run leaves $(names)" held.err
readers
[[ $outcome == new ]] || die "after the first run the restore gives the previous state" held.out

# --- A run killed (kill -9 from here) while it holds the lock: the lock
# file stays, and holds up nobody.
where="a lock left by a killed run"
snapshot busy
tree change "$src" "$(tree_seed 10)" 8 delete
hold
kill -9 "$held_pid"
reap
[[ $code == 137 ]] || die "the held run exits $code after kill -9" held.out held.err
[[ -s $arch/busy.qvlock && -e $arch/busy.QVA.qvtmp ]] || die "the killed run left no lock or no volume being written"
readers
[[ $outcome == old ]] || die "after the kill the restore gives the new backup"
attempt "$root/run.out" "$root/run.err" "$qvbackup" backup "$src" --to "$arch" --name busy --replace --quiet --threads 1
[[ $code == 0 ]] || die "the next run exits $code" run.out run.err
[[ $(names) == "busy.QVA " ]] || die "the next run leaves $(names)" run.err
readers
[[ $outcome == new ]] || die "after the next run the restore gives the previous state" run.out

under=
[[ $preload != *libasan* ]] || under=", under ASan"
echo "crash test: all checks passed ($kills killed runs$under, $((SECONDS - started)) s)"
