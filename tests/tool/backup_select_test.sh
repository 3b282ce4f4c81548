#!/usr/bin/env bash
# What qvbackup backup takes: masks, extensions, categories and exclusions
# on real folders, several sources, a file named as a source, a source it
# cannot save (reported, exit 1), its own volumes when the archive lies in
# a source; and a FAT image mapped with --drive, whose files are listed from
# the image itself and restored byte for byte. The archive's contents are
# read back with qvbackup list.
#   backup_select_test.sh QVBACKUP DATA
source "$(dirname "$0")/common.sh"
c() { sed 's|/|\\|g' <<<"C:$1"; }  # the drive path of a native path

mkdir -p "$work/src/photos/raw" "$work/src/music" "$work/src/tmp" "$work/src/notes" "$work/other" "$work/arch"
for f in photos/a.jpg photos/B.JPG photos/raw/c.png music/d.mp3 music/e.flac notes/f.txt notes/g.log \
  tmp/h.txt tmp/i.jpg notes/report.doc notes/report.docx notes/mail.eml; do
  printf '%s\n' "$f" > "$work/src/$f"
done
printf 'other\n' > "$work/other/o.txt"
printf 'single\n' > "$work/single.dat"
ln -s "$work/single.dat" "$work/link.dat"

# saved ARGS...: backs up with ARGS into a fresh archive and prints the
# paths it holds below the source folder, sorted, one per line.
saved() {
  rm -f "$work/arch"/*
  "$qvbackup" backup "$@" --to "$work/arch" --name sel --quiet > "$work/report" ||
    fail "backup $* failed: $(cat "$work/report")"
  "$qvbackup" list "$work/arch/sel.QVA" --json |
    python3 -c "
import json, sys
prefix = sys.argv[1] + '\\\\'
for e in sorted(json.load(sys.stdin)['files'], key=lambda e: e['path']):
    p = e['path']
    print(p[len(prefix):].replace('\\\\', '/') if p.startswith(prefix) else p)" "$(c "$work/src")"
}
expect() {  # expect 'WHAT' "$(saved ...)" LINE...
  local what=$1 got=$2
  shift 2
  local wanted
  wanted=$(printf '%s\n' "$@" | sort)
  [[ $got == "$wanted" ]] || fail "$what: got [$got], expected [$wanted]"
}

expect "everything" "$(saved "$work/src")" photos/a.jpg photos/B.JPG photos/raw/c.png music/d.mp3 music/e.flac \
  notes/f.txt notes/g.log tmp/h.txt tmp/i.jpg notes/report.doc notes/report.docx notes/mail.eml
expect "--mask" "$(saved "$work/src" --mask 'report.*')" notes/report.doc notes/report.docx
expect "--mask ?" "$(saved "$work/src" --mask '?.txt')" notes/f.txt tmp/h.txt
# Extensions without regard to case, with or without their dot, repeatable.
expect "--ext" "$(saved "$work/src" --ext jpg --ext .log)" photos/a.jpg photos/B.JPG tmp/i.jpg notes/g.log
expect "--mask with --ext" "$(saved "$work/src" --mask 'a*' --ext jpg)" photos/a.jpg
expect "--categories" "$(saved "$work/src" --categories pictures,Music)" photos/a.jpg photos/B.JPG \
  photos/raw/c.png tmp/i.jpg music/d.mp3 music/e.flac
expect "--categories offices,mail" "$(saved "$work/src" --categories offices,mail)" notes/report.doc \
  notes/report.docx notes/f.txt tmp/h.txt notes/mail.eml
expect "--categories with --ext" "$(saved "$work/src" --categories music --ext log)" music/d.mp3 music/e.flac notes/g.log
# A folder excluded takes what it holds; not a folder whose name merely
# starts the same.
mkdir -p "$work/src/tmpfiles" && printf 'kept\n' > "$work/src/tmpfiles/k.txt"
expect "--exclude-dir" "$(saved "$work/src" --exclude-dir "$work/src/tmp" --exclude-dir "$work/src/photos/raw")" \
  photos/a.jpg photos/B.JPG music/d.mp3 music/e.flac notes/f.txt notes/g.log notes/report.doc notes/report.docx \
  notes/mail.eml tmpfiles/k.txt
rm -r "$work/src/tmpfiles"
expect "--exclude-file" "$(saved "$work/src/notes" "$work/src/music" --exclude-file "$work/src/notes/g.log" \
  --exclude-file "$work/src/music/e.flac")" notes/f.txt notes/report.doc notes/report.docx notes/mail.eml music/d.mp3
expect "--exclude-ext" "$(saved "$work/src" --ext jpg --ext txt --exclude-ext JPG)" notes/f.txt tmp/h.txt
# Several sources, and a file named as a source: it is saved as named, no
# mask or exclusion applying to it.
expect "sources" "$(saved "$work/src/music" "$work/other" "$work/single.dat" --exclude-ext dat)" \
  music/d.mp3 music/e.flac "$(c "$work/other/o.txt")" "$(c "$work/single.dat")"
expect "sources with a mask" "$(saved "$work/src/music" "$work/other" "$work/single.dat" --mask '*.mp3')" \
  music/d.mp3 "$(c "$work/single.dat")"

# A link named as a source is saved as the link it is, never followed:
# it comes back as a link to the same target.
rm -f "$work/arch"/*
"$qvbackup" backup "$work/other" "$work/link.dat" --to "$work/arch" --name sel --json > "$work/report" ||
  fail "a link as a source: $(cat "$work/report")"
python3 - "$work/report" <<'PY' || fail "link report: $(cat "$work/report")"
import json, sys
d = json.load(open(sys.argv[1]))
assert d["files"] == 1 and d["links"] == 1 and d["bytes"] == 6 and d["skipped"] == [], d
PY
"$qvbackup" backup "$work/other" "$work/link.dat" --to "$work/arch" --name sel2 > "$work/report"
grep -q "^Saved 1 file, 1 link, 6 bytes read" "$work/report" || fail "link text: $(cat "$work/report")"
rm -rf "$work/back"
"$qvbackup" restore "$work/arch/sel.QVA" --to "$work/back" --quiet > /dev/null
restored_link=$work/back/Kelvar_C$work/link.dat
[[ -L $restored_link && $(readlink "$restored_link") == "$work/single.dat" ]] ||
  fail "the link comes back as $(ls -l "$restored_link" 2>&1)"

# An archive written into a folder it saves leaves its own volumes out.
"$qvbackup" backup "$work/other" --to "$work/other" --name self --volume-size 64K --quiet > /dev/null
head -c 100000 /dev/urandom > "$work/other/r.bin"
"$qvbackup" backup "$work/other" --to "$work/other" --name self --replace --volume-size 64K --json > "$work/report"
[[ $(python3 -c "import json,sys; print(json.load(open(sys.argv[1]))['files'])" "$work/report") == 2 ]] ||
  fail "own volumes saved: $(cat "$work/report")"
[[ $(ls "$work/other" | grep -c '^self\.') == 2 ]] || fail "own volumes: $(ls "$work/other")"
"$qvbackup" list "$work/other/self.1.QVA" | grep -q 'self\.' && fail "own volume in the archive"

# A FAT image mapped to F: with a folder holding its files: the list comes
# from the image read raw (a file only in the folder is not seen), the
# content from the folder; the restore equals the image's files.
gzip -dc "$data/fat/fat16.img.gz" > "$work/fat.img"
mkdir "$work/fat" "$work/fatout"
MTOOLS_SKIP_CHECK=1 mcopy -s -m -i "$work/fat.img" '::*' "$work/fat/"
files=$(find "$work/fat" -type f | wc -l)
printf 'not in the image\n' > "$work/fat/only_here.txt"
drive=(--drive "F=$work/fat,$work/fat.img")
rm -f "$work/arch"/*
"$qvbackup" backup "$work/fat" "${drive[@]}" --to "$work/arch" --name fat --json > "$work/report"
[[ $(python3 -c "import json,sys; print(json.load(open(sys.argv[1]))['files'])" "$work/report") == "$files" ]] ||
  fail "FAT files: $(cat "$work/report"), expected $files"
listing=$("$qvbackup" list "$work/arch/fat.QVA")
grep -q '^F:\\Quarterly report\.xlsx	' <<< "$listing" || fail "FAT paths are not on F: ${listing:0:300}"
"$qvbackup" restore "$work/arch/fat.QVA" --to "$work/fatout" > /dev/null
rm "$work/fat/only_here.txt"
diff -r "$work/fat" "$work/fatout/Kelvar_F" > /dev/null || fail "FAT restore differs"
# Options on the image: extensions and an excluded folder (that holds .dat
# files: the exclusion takes them out).
"$qvbackup" backup "$work/fat" "${drive[@]}" --to "$work/arch" --name fat2 --ext bin --ext dat \
  --exclude-dir "$work/fat/many" --quiet > /dev/null 2> "$work/err"
[[ ! -s $work/err ]] || fail "FAT exclusion: $(cat "$work/err")"
got=$("$qvbackup" list "$work/arch/fat2.QVA" --json | python3 -c "
import json, sys
print(' '.join(sorted(e['path'] for e in json.load(sys.stdin)['files'])))")
wanted=$(cd "$work/fat" && find . -path ./many -prune -o -type f \( -iname '*.bin' -o -iname '*.dat' \) -print | sed 's|^\./|F:\\|; s|/|\\|g' | sort | tr '\n' ' ')
[[ "$got " == "$wanted" ]] || fail "FAT --ext: [$got] vs [$wanted]"
echo "backup select: all checks passed"
