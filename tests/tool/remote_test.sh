#!/usr/bin/env bash
# Archives on a remote folder through rclone (its local remote here; the
# servers have their own test): round trips of plain, encrypted, split and
# incremental archives; restoring one file fetches a few volumes, not the
# archive; a backup killed at each rclone run leaves the previous archive
# or the new one whole, never a mix, and the next run clears what it left;
# two runs at once; rclone missing; a remote that does not exist.
source "$(dirname "$0")/common.sh"
source "$(dirname "$0")/remote_common.sh"
paused=
small_mount=
trap 'if [[ -n $paused ]]; then kill -9 $paused 2>/dev/null || true; fi; if [[ -n $small_mount ]]; then umount "$small_mount" 2>/dev/null; fi; rm -rf "$work"' EXIT

remote="rclone::local:$work/remote"
# The runs' local work folders go there.
export TMPDIR=$work/tmp
mkdir -p "$TMPDIR"
wrap=$work/wrap
wrapped_rclone "$wrap"
mkdir -p "$work/src/sub" "$work/remote"
for i in 1 2 3 4 5 6; do head -c 400000 /dev/urandom > "$work/src/f$i.bin"; done
printf 'plain text\n' > "$work/src/sub/a.txt"
export QV_TEST_PASSWORD='remote pw'
run() { code=0; "$qvbackup" "$@" > "$work/out" 2> "$work/err" || code=$?; }
names() { (cd "$work/remote" && ls | tr '\n' ' '); }
# restored FOLDER: the tree below FOLDER is the source's.
restored() { diff -r "$work/src" "$1/Kelvar_C$work/src" || fail "restored tree differs: $2"; }

# A split, encrypted archive and an increment; every command reads it there.
run backup "$work/src" --to "$remote" --name home --volume-size 300K --password-env QV_TEST_PASSWORD --quiet
[[ $code == 0 ]] || fail "backup: $code $(cat "$work/err")"
[[ $(names) == "home.1.QVA home.2.QVA home.3.QVA home.4.QVA home.5.QVA home.6.QVA home.7.QVA home.8.QVA " ]] ||
  fail "the remote holds $(names)"
run verify "$remote/home.1.QVA" --password-env QV_TEST_PASSWORD
[[ $code == 0 ]] && grep -q "8 volumes.*sound" "$work/out" || fail "verify: $code $(cat "$work/out" "$work/err")"
run restore "$remote/home.1.QVA" --to "$work/out1" --password-env QV_TEST_PASSWORD --quiet
[[ $code == 0 ]] || fail "restore: $code $(cat "$work/err")"
restored "$work/out1" "the whole archive"
printf 'changed\n' > "$work/src/sub/a.txt"
printf 'new\n' > "$work/src/sub/b.txt"
run backup "$work/src" --to "$remote" --name home --incremental --password-env QV_TEST_PASSWORD --json
[[ $code == 0 ]] || fail "increment: $code $(cat "$work/err")"
python3 - "$work/out" "$remote" <<'PY' || fail "increment report: $(cat "$work/out")"
import json, sys
a = json.load(open(sys.argv[1]))
assert a["increment"] == 1 and a["archive"] == sys.argv[2] + "/home.I1.1.QVA", a
PY
run members "$remote/home.1.QVA" --password-env QV_TEST_PASSWORD
[[ $code == 0 && $(wc -l < "$work/out") == 2 ]] || fail "members: $(cat "$work/out" "$work/err")"
run restore "$remote/home.1.QVA" --to "$work/out2" --password-env QV_TEST_PASSWORD --quiet
[[ $code == 0 ]] || fail "restore of the chain: $code $(cat "$work/err")"
restored "$work/out2" "the chain"
[[ -z $(ls "$TMPDIR") ]] || fail "work folders were left: $(ls "$TMPDIR")"

# Each volume is sent as soon as it is written: the work folder holds a few
# at a time (four being sent, one waiting, one just finished, the first and
# the one being written), not the archive. Counted at each run of rclone.
watch=$work/watch
mkdir -p "$watch"
cat > "$watch/rclone" <<EOF
#!/usr/bin/env bash
ls "$TMPDIR"/qvbackup-*/ 2>/dev/null | grep -c 'QVA' >> "$watch/held" || true
exec '$(command -v rclone)' "\$@"
EOF
chmod +x "$watch/rclone"
run backup "$work/src" --to "$remote" --name big --volume-size 64K --quiet --rclone "$watch/rclone"
[[ $code == 0 ]] || fail "backup in small volumes: $code $(cat "$work/err")"
volumes=$(cd "$work/remote" && ls big.*.QVA | wc -l)
most=$(sort -n "$watch/held" | tail -1)
(( volumes >= 30 && most <= 8 )) || fail "$volumes volumes, and the work folder held up to $most at once"
run restore "$remote/big.1.QVA" --to "$work/out-big" --quiet
[[ $code == 0 ]] || fail "restore of the archive sent volume by volume: $code $(cat "$work/err")"
restored "$work/out-big" "the archive sent volume by volume"
rm -f "$work/remote"/big.*

# So a local disk with room for a few volumes, not for the archive, is
# enough: the same tree fails locally there for want of room.
mkdir -p "$work/small"
if mount -t tmpfs -o size=1200k tmpfs "$work/small" 2> /dev/null; then
  small_mount=$work/small
  TMPDIR=$work/small run backup "$work/src" --to "$remote" --name big --volume-size 64K --quiet
  [[ $code == 0 ]] || fail "backup with 1.2 MB of local room: $code $(cat "$work/err")"
  run verify "$remote/big.1.QVA"
  [[ $code == 0 ]] || fail "verify of the archive sent from a small disk: $code $(cat "$work/out" "$work/err")"
  run backup "$work/src" --to "$work/small/local" --name big --volume-size 64K --quiet
  [[ $code == 1 ]] && grep -q "not enough.* space" "$work/err" ||
    fail "the tree fits the small disk locally: $code $(cat "$work/err")"
  [[ -z $(ls "$work/small" | grep -v '^local$') ]] || fail "left on the small disk: $(ls "$work/small")"
  umount "$work/small"
  small_mount=
  rm -f "$work/remote"/big.*
else
  echo "remote test: no tmpfs can be mounted here; the small local disk is not tried" >&2
fi

# One file of eight volumes: the two volumes it lies in, the first and last
# of each member (headers and indexes), and at most three fetched ahead
# once the reading went from one volume to the next; not the rest.
reset_wrapper "$wrap"
run restore "$remote/home.1.QVA" '*/f3.bin' --to "$work/out3" --password-env QV_TEST_PASSWORD --rclone "$wrap/rclone"
[[ $code == 0 ]] && cmp "$work/src/f3.bin" "$work/out3/Kelvar_C$work/src/f3.bin" ||
  fail "one file: $code $(cat "$work/err")"
fetched=$(grep " copyto .*home\.[0-9I]" "$wrap/calls" | grep -vc "\.ahead" || true)
ahead=$(grep -c " copyto .*\.ahead" "$wrap/calls" || true)
[[ $fetched == 5 && $ahead -le 3 ]] || fail "restoring one file fetched $fetched volumes and $ahead ahead: $(cat "$wrap/calls")"

# A backup killed at each stage of a replacement (every rclone run of it is
# cut in the remote folder tests): what is there after the next run is the
# old archive or the new one, whole.
old_listing=$("$qvbackup" list "$remote/home.1.QVA" --password-env QV_TEST_PASSWORD)
reset_wrapper "$wrap"
printf 'replaced\n' > "$work/src/sub/r.txt"
touch -d @1700000000 "$work/src/sub/r.txt" "$work/src/sub/a.txt"
run backup "$work/src" --to "$remote" --name home --replace --volume-size 700K --password-env QV_TEST_PASSWORD --quiet \
  --rclone "$wrap/rclone"
[[ $code == 0 ]] || fail "the replacement itself fails: $(cat "$work/err")"
# run N: the Nth run of rclone's whose command line matches PATTERN.
nth_run() { grep -E -- "$2" "$wrap/calls" | sed -n "${1}p" | cut -d' ' -f1; }
cuts=$(for stage in "1 moveto .*qvlock" "1 copyto .*qvnew" "2 copyto .*qvnew" "1 moveto .*qvcommit$" \
                    "3 moveto .*\.qvold$" "2 moveto .*qvnew .*QVA$" "4 deletefile .*qvold" "1 deletefile .*qvcommit" \
                    "1 deletefile .*qvlock"; do
         nth_run ${stage%% *} "${stage#* }"
       done)
[[ $(wc -w <<< "$cuts") == 9 ]] || fail "the replacement's stages were not all found: $cuts in $(cat "$wrap/calls")"
new_listing=$("$qvbackup" list "$remote/home.1.QVA" --password-env QV_TEST_PASSWORD)
[[ $new_listing != "$old_listing" ]] || fail "the replacement changed nothing"
kept_new=0
kept_old=0
# The old chain, made once and put back before each cut.
rm -rf "$work/remote" && mkdir "$work/remote"
rm "$work/src/sub/r.txt"
"$qvbackup" backup "$work/src" --to "$remote" --name home --volume-size 300K --password-env QV_TEST_PASSWORD --quiet
printf 'changed\n' > "$work/src/sub/a.txt"
"$qvbackup" backup "$work/src" --to "$remote" --name home --incremental --password-env QV_TEST_PASSWORD --quiet
old_listing=$("$qvbackup" list "$remote/home.1.QVA" --password-env QV_TEST_PASSWORD)
cp -a "$work/remote" "$work/old-remote"
for at in $cuts; do
  rm -rf "$work/remote" && cp -a "$work/old-remote" "$work/remote"
  reset_wrapper "$wrap"
  printf 'replaced\n' > "$work/src/sub/r.txt"
  touch -d @1700000000 "$work/src/sub/r.txt" "$work/src/sub/a.txt"
  echo "$at" > "$wrap/pause-at"
  # In a process group of its own, the kill takes its rclone runs too. Each
  # of them holds the lock taken on descriptor 7 before qvbackup starts (the
  # descriptor is inherited), so the second flock returns once the last of
  # them is gone: nothing may look at the remote before.
  setsid bash -c 'exec 7> "$0"; flock 7; exec "$@"' "$work/run.lock" "$qvbackup" backup "$work/src" \
    --to "$remote" --name home --replace --volume-size 700K --password-env QV_TEST_PASSWORD --quiet \
    --rclone "$wrap/rclone" > /dev/null 2>&1 &
  pid=$!
  wait_paused "$wrap"
  paused=$(cat "$wrap/paused")
  kill -9 -- "-$pid"
  wait "$pid" 2>/dev/null || true
  flock "$work/run.lock" true
  paused=
  # A reader first, then the next backup: each finds one whole archive.
  run list "$remote/home.1.QVA" --password-env QV_TEST_PASSWORD
  cp "$work/err" "$work/told"
  if [[ $code == 0 && $(cat "$work/out") == "$new_listing" ]]; then
    kept_new=$((kept_new + 1))
  else
    [[ $code == 0 && $(cat "$work/out") == "$old_listing" ]] ||
      fail "killed at run $at: list says $code $(cat "$work/out" "$work/err"); remote: $(names)"
    kept_old=$((kept_old + 1))
  fi
  run verify "$remote/home.1.QVA" --password-env QV_TEST_PASSWORD
  [[ $code == 0 ]] || fail "killed at run $at: verify $code $(cat "$work/out" "$work/err")"
  printf 'next\n' > "$work/src/sub/c.txt"
  run backup "$work/src" --to "$remote" --name home --incremental --password-env QV_TEST_PASSWORD --quiet
  [[ $code == 0 || $code == 4 ]] || fail "killed at run $at: the next backup $code $(cat "$work/err")"
  cat "$work/err" >> "$work/told"
  rm "$work/src/sub/c.txt"
  leftovers=$(cd "$work/remote" && ls | grep -v '\.QVA$' || true)
  [[ -z $leftovers ]] || fail "killed at run $at: left on the remote: $leftovers"
  # The killed run's work folder (a whole member, once written) went with
  # the next run.
  [[ -z $(ls "$TMPDIR") ]] || fail "killed at run $at: work folders left: $(ls "$TMPDIR")"
  grep -q "removed the work folder qvbackup-$pid-" "$work/told" || fail "killed at run $at: not told: $(cat "$work/told")"
  # The killed run's lock, once it was sent, is removed by the next run of
  # this machine, which tells whose it was.
  if grep -q "^[0-9]* moveto .*qvlock" "$wrap/calls" && (( at > 2 )); then
    grep -q "the lock of a run that ended (process $pid on" "$work/told" ||
      fail "killed at run $at: the next runs say $(cat "$work/told")"
  fi
done
(( kept_old > 0 && kept_new > 0 )) || fail "old kept $kept_old times, new $kept_new: the cuts missed a side"

# Two runs at once: the second is refused (exit 3), naming the first; the
# first ends well.
reset_wrapper "$wrap"
echo 4 > "$wrap/pause-at"
"$qvbackup" backup "$work/src" --to "$remote" --name home --incremental --password-env QV_TEST_PASSWORD --quiet \
  --rclone "$wrap/rclone" > "$work/first.out" 2> "$work/first.err" &
pid=$!
wait_paused "$wrap"
paused=$(cat "$wrap/paused")
grep -q "lsjson" "$wrap/calls" || fail "the first run paused before holding the lock: $(cat "$wrap/calls")"
run backup "$work/src" --to "$remote" --name home --incremental --password-env QV_TEST_PASSWORD --quiet
[[ $code == 3 ]] && grep -q "in use by another run" "$work/err" && grep -q "qvlock-" "$work/err" ||
  fail "a second run at once: $code $(cat "$work/err")"
kill "$paused"
paused=
set +e
wait "$pid"
first=$?
set -e
# The first run's paused rclone was ended: it fails, saying so, and leaves
# the archive as it was.
[[ $first == 1 ]] || fail "the first run, its rclone ended: $first $(cat "$work/first.err")"
run verify "$remote/home.1.QVA" --password-env QV_TEST_PASSWORD
[[ $code == 0 ]] || fail "after two runs at once: $code $(cat "$work/err")"

# Ctrl-C while the volumes are on their way: the run stops, says so, and
# leaves the remote as it was, without its lock or anything sent.
before=$(cd "$work/remote" && sha256sum -- *)
reset_wrapper "$wrap"
echo 6 > "$wrap/pause-at"
"$qvbackup" backup "$work/src" --to "$remote" --name home --replace --password-env QV_TEST_PASSWORD --quiet \
  --volume-size 700K --rclone "$wrap/rclone" > "$work/out" 2> "$work/err" &
pid=$!
wait_paused "$wrap"
grep -q "^6 copyto .*qvnew" "$wrap/calls" || fail "paused before sending: $(cat "$wrap/calls")"
kill -INT "$pid"
set +e
wait "$pid"
code=$?
set -e
[[ $code == 1 ]] && grep -q "interrupted while sending" "$work/err" || fail "Ctrl-C while sending: $code $(cat "$work/err")"
[[ $(cd "$work/remote" && sha256sum -- *) == "$before" ]] || fail "Ctrl-C while sending left $(names)"
[[ -z $(ls "$TMPDIR") ]] || fail "Ctrl-C while sending left work folders: $(ls "$TMPDIR")"

# rclone missing, or the remote unknown: exit 1 with a plain message.
run list "$remote/home.1.QVA" --rclone "$work/no-rclone"
[[ $code == 1 ]] && grep -q "no such program" "$work/err" || fail "--rclone missing: $code $(cat "$work/err")"
mkdir -p "$work/empty-path"
code=0
PATH=$work/empty-path "$qvbackup" backup "$work/src" --to "$remote" --name x > "$work/out" 2> "$work/err" || code=$?
[[ $code == 1 ]] && grep -q "rclone is not installed" "$work/err" || fail "no rclone on PATH: $code $(cat "$work/err")"
run backup "$work/src" --to rclone:nosuchremote:backups --name home --quiet
[[ $code == 1 ]] && grep -q "nosuchremote" "$work/err" || fail "an unknown remote: $code $(cat "$work/err")"
run list rclone:nosuchremote:backups/home.1.QVA
[[ $code == 1 ]] && grep -q "nosuchremote" "$work/err" || fail "listing an unknown remote: $code $(cat "$work/err")"
run merge "$remote/home.1.QVA" --keep 0
[[ $code == 1 ]] && grep -q "this machine only" "$work/err" || fail "merge of a remote archive: $code $(cat "$work/err")"
echo "remote test: passed"
