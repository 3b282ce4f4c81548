#!/usr/bin/env bash
# qvbackup restore into a target where symbolic links were planted: a link
# at the drive's folder, at a middle folder or at a file's own folder, to a
# folder outside the target, never leads a file there (exit status 1, the
# file named with the reason, nothing outside changed, the other files
# restored); a target that is itself a link is the user's choice and
# works. The file being written is its owner's only whatever the umask
# (held at its first write by crash_shim.c), and the restored files get
# their saved modes, or the umask's without the metadata table.
#   restore_links_test.sh QVBACKUP
source "$(dirname "$0")/common.sh"
source "$(dirname "$0")/crash_shim.sh"
source "$(dirname "$0")/planted_links.sh"
root=$(cd "$work" && pwd -P)
use_crash_shim "$root" "$qvbackup"
# status EXPECTED COMMAND...: runs COMMAND, its output in $root/out and $root/err.
status() {
  local expected=$1 code=0
  shift
  "$@" > "$root/out" 2> "$root/err" || code=$?
  [[ $code == "$expected" ]] || fail "exit $code, not $expected: $* ($(cat "$root/out" "$root/err"))"
}

src=$root/src
make_link_source "$src"
"$qvbackup" backup "$src" --to "$root/arch" --name home --quiet > "$root/backup.out" 2>&1 ||
  fail "backup: $(cat "$root/backup.out")"
saved=Kelvar_C$src

mapfile -t levels < <(link_levels "$saved")
for level in "${levels[@]}"; do
  target=$root/t-${#level}
  outside=$root/o-${#level}
  plant_link "$target" "$level" "$outside" "$src"
  status 1 "$qvbackup" restore "$root/arch/home.QVA" --to "$target" --quiet
  [[ $(snapshot "$outside") == "$before" ]] || fail "$level: the restore changed what lies outside the target"
  [[ -L $target/$level ]] || fail "$level: the planted link is gone"
  grep -q "^qvbackup: C:.*f.txt: not restored: a folder on its way in the target is a symbolic link$" "$root/err" ||
    fail "$level: no reason given: $(cat "$root/err")"
  count=$(grep -c "a folder on its way in the target is a symbolic link" "$root/err")
  ((count == refused)) || fail "$level: $count files refused instead of $refused: $(cat "$root/err")"
  if [[ $level != Kelvar_C ]]; then
    cmp -s "$target/$saved/top.txt" "$src/top.txt" || fail "$level: top.txt is not restored"
  fi
  if [[ $level == */dir2 ]]; then
    cmp -s "$target/$saved/dir1/g.txt" "$src/dir1/g.txt" || fail "$level: g.txt is not restored"
  fi
done

# The target named through a link, and a target that is a link.
mkdir -p "$root/real"
ln -s "$root/real" "$root/named"
status 0 "$qvbackup" restore "$root/arch/home.QVA" --to "$root/named" --quiet
diff -r "$src" "$root/real/$saved" > /dev/null || fail "restore through a linked target differs"

# The file being written is 0600 under either umask; in place, each file
# has its saved mode.
for mask in 022 077; do
  out=$root/m-$mask
  mkdir -p "$out"
  hold_at "$root/pause" "$out" write 1 "$root/held.out" "$root/held.err" \
    bash -c "umask $mask && exec \"\$@\"" restore "$qvbackup" restore "$root/arch/home.QVA" --to "$out" --quiet
  temporary=$(find "$out" -name '~qv*.tmp')
  [[ -n $temporary ]] || fail "umask $mask: no temporary file while a file is written: $(find "$out")"
  [[ $(stat -c %a "$temporary") == 600 ]] || fail "umask $mask: the temporary file is $(stat -c %a "$temporary")"
  rm "$root/pause"
  reap
  [[ $code == 0 ]] || fail "umask $mask: the restore exits $code: $(cat "$root/held.out" "$root/held.err")"
  modes=$(cd "$out/$saved" && stat -c '%n %a' top.txt private.txt locked.txt dir1/g.txt | tr '\n' ' ')
  [[ $modes == "top.txt 644 private.txt 600 locked.txt 444 dir1/g.txt 644 " ]] ||
    fail "umask $mask: modes with the metadata table: $modes"
done

# Without its metadata table (as an archive made where none is kept reads:
# the locator right before the index made another kind of block), files
# get the mode of a new file under the umask, less write for read-only.
cp "$root/arch/home.QVA" "$root/bare.QVA"
python3 - "$root/bare.QVA" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
block_header = 14
closing = struct.unpack_from("<Q", data, 181)[0]
index = struct.unpack_from("<Q", data, closing + block_header + 4)[0]
locator = index - block_header - 24
assert struct.unpack_from("<H", data, locator + 4)[0] == 4, "no locator before the index"
struct.pack_into("<H", data, locator + 4, 1)
open(sys.argv[1], "wb").write(data)
PY
expect_umask_modes "$qvbackup" "$root/bare.QVA" "$root/bare" "$saved"
echo "restore links: all checks passed"
