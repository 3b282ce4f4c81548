#!/usr/bin/env bash
# A backup to, and a restore from, an SFTP server on 127.0.0.1 (OpenSSH,
# started here) through rclone, against rclone copy of the same archive's
# volumes each way: the transfer floor. Medians of RUNS; each restore
# checked byte for byte. Prints the table (Markdown) on standard output.
#   bench/remote.sh [SIZE] [RUNS]    SIZE as make_corpus.py takes it (default 1G), RUNS default 3
#   (QV_BENCH_BUILD=DIR builds qvbackup there instead of build/bench)
set -euo pipefail
cd "$(dirname "$0")/.."
size=${1:-1G}
runs=${2:-3}

bash scripts/setup.sh
build=${QV_BENCH_BUILD:-build/bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_TESTS=OFF > /dev/null
cmake --build "$build" -j "$(nproc)" --target qvbackup > /dev/null
qvbackup=$(cd "$build" && pwd)/bin/qvbackup

work=$(mktemp -d)
fail() { echo "bench remote: $*" >&2; exit 1; }
export RCLONE_CONFIG=$work/rclone.conf
: > "$RCLONE_CONFIG"
source tests/tool/sftp_server.sh
trap 'stop_sshd; rm -rf "$work"' EXIT
start_sshd
wait_up "sftp:$work"
export TMPDIR=$work/tmp
mkdir -p "$TMPDIR" "$work/server"

python3 bench/make_corpus.py "$work/corpus" "$size"
src=$work/corpus
input=$(du -sb "$src" | cut -f1)

# seconds COMMAND...: the wall time of the command.
seconds() {
  /usr/bin/time -f "%e" -o "$work/time" "$@" > /dev/null 2> "$work/err" || { cat "$work/err" >&2; exit 1; }
  cat "$work/time"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

: > "$work/qv_backup" && : > "$work/qv_local" && : > "$work/copy_up" && : > "$work/qv_restore" && : > "$work/copy_down"
for ((run = 1; run <= runs; ++run)); do
  rm -rf "$work/server"/* "$work/local" "$work/restored" "$work/fetched"
  seconds "$qvbackup" backup "$src" --to "rclone:sftp:$work/server/qv" --name c --quiet >> "$work/qv_backup"
  # The same volumes, as the archive a local backup makes of the corpus, sent by rclone.
  seconds "$qvbackup" backup "$src" --to "$work/local" --name c --quiet --volume-size 64M >> "$work/qv_local"
  seconds rclone copy "$work/local" "sftp:$work/server/copy" >> "$work/copy_up"
  seconds "$qvbackup" restore "rclone:sftp:$work/server/qv/c.1.QVA" --to "$work/restored" --quiet >> "$work/qv_restore"
  diff -r -q "$src" "$work/restored/Kelvar_C$src" > /dev/null || fail "the restored tree differs"
  seconds rclone copy "sftp:$work/server/copy" "$work/fetched" >> "$work/copy_down"
done
archive=$(du -sb "$work/server/qv" | cut -f1)
qb=$(median < "$work/qv_backup")
ql=$(median < "$work/qv_local")
cu=$(median < "$work/copy_up")
qr=$(median < "$work/qv_restore")
cd_=$(median < "$work/copy_down")
mb() { awk -v b="$1" -v s="$2" 'BEGIN { printf "%.0f", b / s / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
cat <<EOF
| $(numfmt --to=iec "$input") corpus, SFTP on 127.0.0.1, medians of $runs | seconds | MB/s of the corpus | against rclone copy |
|---|---|---|---|
| qvbackup backup --to rclone:sftp:... | $qb | $(mb "$input" "$qb") | $(ratio "$qb" "$cu") |
| qvbackup backup to a local folder (no transfer) | $ql | $(mb "$input" "$ql") | $(ratio "$ql" "$cu") |
| rclone copy of its volumes up (the floor) | $cu | $(mb "$input" "$cu") | 1.00 |
| qvbackup restore rclone:sftp:... | $qr | $(mb "$input" "$qr") | $(ratio "$qr" "$cd_") |
| rclone copy of its volumes down (the floor) | $cd_ | $(mb "$input" "$cd_") | 1.00 |

Archive: $(numfmt --to=iec "$archive") in $(ls "$work/server/qv" | wc -l) volumes of 64M.
EOF
