#!/usr/bin/env bash
# The Windows qvbackup under Wine, restoring into a target where symbolic
# links were planted (Wine shows them as reparse points): a link at the
# drive's folder, at a middle folder or at a file's own folder never leads a
# file outside the target; the run names the refused files and exits 1,
# the others come back. The archive, made by the Windows qvbackup, keeps no
# modes: the Linux qvbackup restores its files with the mode of a new file
# under the umask, read-only ones without write permission.
# Arguments: the Linux qvbackup, the Windows qvbackup.exe, the Wine program.
source "$(dirname "$0")/wine_common.sh"
qvbackup=$1
windows_qvbackup=$2
wine=$3
source "$(dirname "$0")/../planted_links.sh"

src=$work/src
make_link_source "$src"
"$wine" "$windows_qvbackup" backup "$(windows "$src")" --to "$(windows "$work/arch")" --name home --quiet \
  < /dev/null > "$work/backup.out" 2>&1 || fail "the Windows backup: $(cat "$work/backup.out")"
saved=Kelvar_Z$src

mapfile -t levels < <(link_levels "$saved")
for level in "${levels[@]}"; do
  target=$work/t-${#level}
  outside=$work/o-${#level}
  plant_link "$target" "$level" "$outside" "$src"
  set +e
  "$wine" "$windows_qvbackup" restore "$(windows "$work/arch/home.QVA")" --to "$(windows "$target")" --quiet \
    < /dev/null > "$work/out" 2> "$work/err"
  code=$?
  set -e
  [[ $code == 1 ]] || fail "$level: the restore exits $code: $(cat "$work/out" "$work/err")"
  [[ $(snapshot "$outside") == "$before" ]] || fail "$level: the restore changed what lies outside the target"
  count=$(grep -c "a folder on its way in the target is a symbolic link" "$work/err" || true)
  ((count == refused)) || fail "$level: $count files refused instead of $refused: $(cat "$work/err")"
  if [[ $level != Kelvar_Z ]]; then
    cmp -s "$target/$saved/top.txt" "$src/top.txt" || fail "$level: top.txt is not restored"
  fi
done

expect_umask_modes "$qvbackup" "$work/arch/home.QVA" "$work/m" "$saved"
echo "restore links under Wine: all checks passed"
