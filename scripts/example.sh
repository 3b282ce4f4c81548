#!/usr/bin/env bash
# Sets everything up, builds qvbackup and runs it on a small tree of sample
# documents and pictures: an encrypted backup split into volumes, a check of
# every block, a restore into another folder, and a comparison showing that
# every file came back identical.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target qvbackup

example=build/example
archives=build/example-archives
restored=build/example-restored
rm -rf "$example" "$archives" "$restored"
mkdir -p "$example/Documents/Letters" "$example/Documents/Accounts" "$example/Pictures/2026/Holiday" \
  "$example/Music"
for n in 1 2 3; do
  printf 'Dear reader,\n\nletter number %d, written for the example.\n' "$n" > "$example/Documents/Letters/letter$n.txt"
done
seq 1 20000 | sed 's/^/line /' > "$example/Documents/notes.txt"
printf 'date;amount\n2026-01-01;12.50\n2026-02-01;-3.20\n' > "$example/Documents/Accounts/budget.csv"
for n in 1 2 3 4; do head -c 150000 /dev/urandom > "$example/Pictures/2026/Holiday/photo$n.jpg"; done
head -c 80000 /dev/urandom > "$example/Music/song.mp3"

qvbackup=build/default/bin/qvbackup
# The password comes from the environment here; without one qvbackup asks
# for it on the terminal. It never goes on the command line.
export QV_EXAMPLE_PASSWORD=correct-horse-battery
echo "== what the folder holds"
"$qvbackup" scan "$example"
echo "== files per category"
"$qvbackup" count --base "$example"
echo "== backup, encrypted, in volumes of 256 KiB"
"$qvbackup" backup "$example" --to "$archives" --name example --volume-size 256K \
  --password-env QV_EXAMPLE_PASSWORD --quiet
ls -l "$archives"
echo "== what the archive holds"
"$qvbackup" list "$archives/example.1.QVA" --password-env QV_EXAMPLE_PASSWORD
echo "== every block checked"
"$qvbackup" verify "$archives/example.1.QVA" --password-env QV_EXAMPLE_PASSWORD --quiet
echo "== restore"
"$qvbackup" restore "$archives/example.1.QVA" --to "$restored" --password-env QV_EXAMPLE_PASSWORD --quiet
# Each file comes back as Kelvar_<drive>/<its path>; on Linux the drive C is
# the root folder.
diff -r "$example" "$restored/Kelvar_C$(cd "$example" && pwd)"
echo "every file restored identical to its source"
