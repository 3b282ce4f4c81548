# Sourced by the restore tests that plant symbolic links in a target, run
# by the Linux and by the Windows qvbackup.
#   make_link_source SRC: the tree they back up: dir1/dir2/f.txt,
#     dir1/g.txt, top.txt (644), private.txt (600), locked.txt (444).
#   link_levels SAVED: the three places below a target a link is planted,
#     one a line: the drive's folder, a middle folder, a file's own folder
#     (SAVED: where the source comes back below the target, Kelvar_X...).
#   plant_link TARGET LEVEL OUTSIDE SRC: a link at LEVEL below TARGET to the
#     folder OUTSIDE, which holds files of the names the restore would write
#     through it; `before` gets OUTSIDE's snapshot, `refused` how many files
#     the restore must refuse.
#   snapshot FOLDER: every item below FOLDER, links not followed: path,
#     type, size, inode, last write time, and the files' hashes.
#   expect_umask_modes QVBACKUP ARCHIVE OUT SAVED: ARCHIVE, which keeps no
#     modes, restored by the Linux QVBACKUP below OUT-022 and OUT-077 under
#     those umasks: its files have the mode of a new file, read-only ones
#     without write permission.
make_link_source() {
  mkdir -p "$1/dir1/dir2"
  printf 'deep\n' > "$1/dir1/dir2/f.txt"
  printf 'middle\n' > "$1/dir1/g.txt"
  printf 'top\n' > "$1/top.txt"
  printf 'private\n' > "$1/private.txt"
  printf 'locked\n' > "$1/locked.txt"
  chmod 644 "$1/dir1/dir2/f.txt" "$1/dir1/g.txt" "$1/top.txt"
  chmod 600 "$1/private.txt"
  chmod 444 "$1/locked.txt"
}
link_levels() { printf '%s\n' "${1%%/*}" "$1/dir1" "$1/dir1/dir2"; }
snapshot() {
  (cd "$1" && find . -printf '%p %y %s %i %T@\n' | sort && find . -type f -exec sha256sum {} + | sort)
}
plant_link() {
  local target=$1 level=$2 outside=$3 src=$4 file lead
  case $level in
    */dir2) lead=(f.txt) refused=1 ;;
    */dir1) lead=(dir2/f.txt g.txt) refused=2 ;;
    *) lead=("${src#/}/dir1/dir2/f.txt" "${src#/}/top.txt") refused=5 ;;
  esac
  for file in "${lead[@]}"; do
    mkdir -p "$(dirname "$outside/$file")"
    printf 'not to be touched\n' > "$outside/$file"
  done
  before=$(snapshot "$outside")
  mkdir -p "$(dirname "$target/$level")"
  ln -s "$outside" "$target/$level"
}
expect_umask_modes() {
  local program=$1 archive=$2 out=$3 saved=$4 mask modes wanted
  for mask in 022 077; do
    (umask $mask && "$program" restore "$archive" --to "$out-$mask" --quiet > "$out.out" 2>&1) ||
      fail "umask $mask: restoring $archive: $(cat "$out.out")"
    modes=$(cd "$out-$mask/$saved" && stat -c '%n %a' top.txt private.txt locked.txt | tr '\n' ' ')
    case $mask in
      022) wanted="top.txt 644 private.txt 644 locked.txt 444 " ;;
      077) wanted="top.txt 600 private.txt 600 locked.txt 400 " ;;
    esac
    [[ $modes == "$wanted" ]] || fail "umask $mask: the files of $archive have the modes $modes"
  done
}
