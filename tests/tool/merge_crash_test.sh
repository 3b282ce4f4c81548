#!/usr/bin/env bash
# qvbackup merge killed (SIGKILL) at chosen calls: whatever the moment, the
# chain reads as the old one or as the merged one, every member as of its
# time, never a mix; and the next merge ends with the merged chain and
# nothing else in the folder. Kills at every rename, removal and sync the
# merge makes below the archive folder, and at writes spread over all of
# them (crash_shim.c counts the calls; a merge with --threads 1 makes the
# same calls every time). Two cases: a chain in one volume per member, and an encrypted one
# split into volumes.
#   merge_crash_test.sh QVBACKUP
source "$(dirname "$0")/common.sh"
source "$(dirname "$0")/crash_shim.sh"
# Paths as the kernel names them, since the shim compares them with what
# /proc/self/fd says.
root=$(cd "$work" && pwd -P)
src=$root/src
arch=$root/arch
use_crash_shim "$root" "$qvbackup"
export QV_TEST_PASSWORD='merge crash pw'
write_points=8

# listing N [options]: the chain's list as of member N (paths, sizes, times).
listing() { "$qvbackup" list "$arch/$first" --as-of "$1" "${@:2}" 2> /dev/null | cut -f1-3; }
# The chain's states, member by member, as one text.
states() {
  local count m
  count=$("$qvbackup" members "$arch/$first" "$@" 2> /dev/null | grep -c complete || true)
  for ((m = 0; m < count; ++m)); do echo "== $m"; listing "$m" "$@"; done
}

run_case() {
  local name=$1
  shift
  local options=("$@") pw=()
  [[ " ${options[*]} " == *" --password-env "* ]] && pw=(--password-env QV_TEST_PASSWORD)
  rm -rf "$src" "$arch" "$root/pristine"
  mkdir -p "$src/d" "$arch"
  head -c 200000 /dev/urandom > "$src/d/big.bin"
  for i in 1 2 3 4 5 6; do printf 'file %s\n' "$i" > "$src/d/f$i.txt"; done
  backup() { "$qvbackup" backup "$src" --to "$arch" --name home --quiet "${options[@]}" "$@" > /dev/null; }
  backup
  rm "$src/d/f1.txt"; printf 'changed\n' > "$src/d/f2.txt"; backup --incremental
  mv "$src/d/f3.txt" "$src/d/f3-moved.txt"; head -c 90000 /dev/urandom > "$src/d/more.bin"; backup --incremental
  printf 'last\n' > "$src/d/f4.txt"; rm "$src/d/big.bin"; backup --incremental
  first=$(cd "$arch" && ls | grep -E '^home\.(1\.)?QVA$')
  old=$(states "${pw[@]}")
  [[ $(grep -c '^== ' <<< "$old") == 4 ]] || fail "$name: the chain to merge: $(ls "$arch")"
  # What the merged chain must read as: the old members 1 to 3, renumbered.
  new=$(sed -n '/^== 1$/,$p' <<< "$old" | awk '/^== /{print "== " $2 - 1; next} {print}')
  cp -a "$arch" "$root/pristine"
  # A whole run, counted.
  env LD_PRELOAD="$preload" QV_CRASH_DIR="$arch" QV_CRASH_COUNT="$root/counts" \
    ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
    "$qvbackup" merge "$arch/$first" --keep 2 --threads 1 "${pw[@]}" > /dev/null || fail "$name: the counted merge failed"
  [[ $(states "${pw[@]}") == "$new" ]] || fail "$name: the merged chain does not read as expected"
  local op total at points killed=0 fresh=0 merged=0
  for op in rename unlink sync write; do
    total=$(awk -v op="$op" '$1 == op {print $2}' "$root/counts")
    [[ $total =~ ^[0-9]+$ ]] || fail "$name: no count of $op: $(cat "$root/counts")"
    if [[ $op == write ]]; then
      points=$(for ((i = 0; i < write_points; ++i)); do echo $((1 + i * (total - 1) / (write_points - 1))); done | sort -un)
    else
      points=$(seq 1 "$total")
    fi
    for at in $points; do
      rm -rf "$arch" && cp -a "$root/pristine" "$arch"
      set +e
      # (Braced, so that the shell's word of the kill goes with the rest.)
      { env LD_PRELOAD="$preload" QV_CRASH_DIR="$arch" QV_CRASH_OP="$op" QV_CRASH_AT="$at" \
        ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
        "$qvbackup" merge "$arch/$first" --keep 2 --threads 1 "${pw[@]}"; } > "$root/run.out" 2> "$root/run.err"
      code=$?
      set -e
      [[ $code == 137 ]] || fail "$name: $op $at of $total: the merge was not killed (exit $code): $(cat "$root/run.err")"
      killed=$((killed + 1))
      # What a reader meets right after the kill, with nothing cleared.
      now=$(states "${pw[@]}")
      if [[ $now == "$old" ]]; then
        fresh=$((fresh + 1))
      elif [[ $now == "$new" ]]; then
        merged=$((merged + 1))
      else
        fail "$name: after a kill at $op $at of $total the chain reads as neither the old nor the merged one:
$now
--- files: $(ls -A "$arch")"
      fi
      # The next merge ends it, whatever was left.
      "$qvbackup" merge "$arch/$first" --keep 2 --threads 1 "${pw[@]}" > "$root/run.out" 2> "$root/run.err" ||
        fail "$name: the merge after a kill at $op $at failed: $(cat "$root/run.err")"
      [[ $(states "${pw[@]}") == "$new" ]] || fail "$name: after a kill at $op $at and a new merge the chain is not the merged one"
      leftovers=$(ls -A "$arch" | grep -vE '^home\.(I[12]\.)?([0-9]+\.)?QVA$' || true)
      [[ -z $leftovers ]] || fail "$name: left in the folder after a kill at $op $at: $leftovers"
    done
  done
  # Both outcomes were met: kills before the commit and after it.
  ((fresh > 0 && merged > 0)) || fail "$name: $killed kills, $fresh left the old chain, $merged the merged one"
}

run_case plain
run_case split --volume-size 64K --password-env QV_TEST_PASSWORD
