#!/usr/bin/env bash
# Archives on real servers, started here on 127.0.0.1 only: an OpenSSH
# server (a host key made now, one authorised key) reached through an
# rclone sftp remote, and rclone's own WebDAV server through a webdav
# remote. On each: round trips (encrypted, split, an increment, one file
# restored); the server stopped in the middle of an upload (exit 1, the
# remote named, the previous archive whole once the server is back, and
# what the run left cleared by the next one); a server whose disk is full.
source "$(dirname "$0")/common.sh"
source "$(dirname "$0")/remote_common.sh"
sshd_pid=
dav_pid=
quota_mount=
stop_dav() {
  kill "$dav_pid" 2>/dev/null || true
  wait "$dav_pid" 2>/dev/null || true
  dav_pid=
}
# A backup left running by a failure is ended with the servers.
backup_pid=
stop_servers() {
  if [[ -n $sshd_pid ]]; then stop_sshd; fi
  if [[ -n $dav_pid ]]; then stop_dav; fi
}
trap 'if [[ -n $backup_pid ]]; then kill -9 "$backup_pid" 2>/dev/null || true; fi; if [[ -f $work/wrap/paused ]]; then kill -9 "$(cat "$work/wrap/paused")" 2>/dev/null || true; fi; stop_servers; if [[ -n $quota_mount ]]; then umount "$quota_mount" 2>/dev/null; fi; rm -rf "$work"' EXIT
export TMPDIR=$work/tmp
mkdir -p "$TMPDIR" "$work/sftp" "$work/dav"
source "$(dirname "$0")/sftp_server.sh"
dav_port=$(free_port)
start_dav() {
  rclone serve webdav "$work/dav" --addr "127.0.0.1:$dav_port" 2>> "$work/dav.log" &
  dav_pid=$!
}
cat >> "$RCLONE_CONFIG" <<EOF
[dav]
type = webdav
url = http://127.0.0.1:$dav_port
vendor = other
EOF
start_sshd
start_dav
wait_up sftp:
wait_up dav:

mkdir -p "$work/src/sub"
for i in 1 2 3 4; do head -c 300000 /dev/urandom > "$work/src/f$i.bin"; done
printf 'text\n' > "$work/src/sub/a.txt"
export QV_TEST_PASSWORD='server pw'
run() { code=0; "$qvbackup" "$@" > "$work/out" 2> "$work/err" || code=$?; }
wrap=$work/wrap
wrapped_rclone "$wrap"

# round_trip REMOTE FOLDER: FOLDER is where the server keeps REMOTE's files.
round_trip() {
  local remote=$1 folder=$2 archive=$1/home.1.QVA
  run backup "$work/src" --to "$remote" --name home --volume-size 256K --password-env QV_TEST_PASSWORD --quiet
  [[ $code == 0 ]] || fail "$remote: backup $code $(cat "$work/err")"
  [[ $(ls "$folder" | tr '\n' ' ') == "home.1.QVA home.2.QVA home.3.QVA home.4.QVA home.5.QVA " ]] ||
    fail "$remote: the server holds $(ls "$folder")"
  run verify "$archive" --password-env QV_TEST_PASSWORD
  [[ $code == 0 ]] || fail "$remote: verify $code $(cat "$work/out" "$work/err")"
  run restore "$archive" '*/f2.bin' --to "$work/one" --password-env QV_TEST_PASSWORD --quiet
  [[ $code == 0 ]] && cmp "$work/src/f2.bin" "$work/one/Kelvar_C$work/src/f2.bin" ||
    fail "$remote: one file $code $(cat "$work/err")"
  printf 'more\n' > "$work/src/sub/b.txt"
  run backup "$work/src" --to "$remote" --name home --incremental --password-env QV_TEST_PASSWORD --quiet
  [[ $code == 0 ]] || fail "$remote: increment $code $(cat "$work/err")"
  run members "$archive" --password-env QV_TEST_PASSWORD
  [[ $code == 0 && $(wc -l < "$work/out") == 2 ]] || fail "$remote: members $(cat "$work/out" "$work/err")"
  run restore "$archive" --to "$work/all" --password-env QV_TEST_PASSWORD --quiet
  [[ $code == 0 ]] || fail "$remote: restore $code $(cat "$work/err")"
  diff -r "$work/src" "$work/all/Kelvar_C$work/src" || fail "$remote: the restored tree differs"
  rm -rf "$work/one" "$work/all" "$work/src/sub/b.txt"
  [[ -z $(ls "$TMPDIR") ]] || fail "$remote: work folders were left: $(ls "$TMPDIR")"
}

# cut_server REMOTE FOLDER STOP START: the server stops while the second
# volume of a replacement is on its way.
cut_server() {
  local remote=$1 folder=$2 stop=$3 start=$4 before
  before=$(cd "$folder" && sha256sum -- *)
  # Runs 1 to 4 take the lock and list the folder; 5 sends the first
  # volume, 6 the second.
  reset_wrapper "$wrap"
  echo 6 > "$wrap/pause-at"
  # rclone's own retries, cut short: a stopped server answers no try.
  RCLONE_RETRIES=1 RCLONE_LOW_LEVEL_RETRIES=1 \
    "$qvbackup" backup "$work/src" --to "$remote" --name home --replace --volume-size 256K \
    --password-env QV_TEST_PASSWORD --quiet --rclone "$wrap/rclone" > "$work/out" 2> "$work/err" &
  local pid=$!
  backup_pid=$pid
  wait_paused "$wrap"
  grep -q "^6 copyto .*home\.[0-9]\.QVA\.qvnew" "$wrap/calls" || fail "$remote: paused at $(cat "$wrap/calls")"
  $stop
  resume "$wrap"
  set +e
  wait "$pid"
  code=$?
  set -e
  backup_pid=
  [[ $code == 1 ]] && grep -q "cannot be sent to $remote" "$work/err" ||
    fail "$remote: a backup whose server stopped: $code $(cat "$work/err")"
  $start
  wait_up "${remote#rclone:}"
  [[ $(cd "$folder" && sha256sum -- *.QVA) == "$(grep 'QVA$' <<< "$before")" ]] ||
    fail "$remote: the archive changed: $(ls "$folder")"
  run verify "$remote/home.1.QVA" --password-env QV_TEST_PASSWORD
  [[ $code == 0 ]] || fail "$remote: after the cut: $code $(cat "$work/out" "$work/err")"
  run backup "$work/src" --to "$remote" --name home --incremental --password-env QV_TEST_PASSWORD --quiet
  [[ $code == 0 ]] || fail "$remote: the next backup: $code $(cat "$work/err")"
  [[ -z $(ls "$folder" | grep -v 'QVA$') ]] || fail "$remote: left on the server: $(ls "$folder")"
}

round_trip "rclone:sftp:$work/sftp" "$work/sftp"
cut_server "rclone:sftp:$work/sftp" "$work/sftp" stop_sshd start_sshd
round_trip rclone:dav: "$work/dav"
cut_server rclone:dav: "$work/dav" stop_dav start_dav

# A full disk behind the server: a small file system where one can be
# mounted, else the server's file size limit.
mkdir -p "$work/small"
if mount -t tmpfs -o size=900k tmpfs "$work/small" 2> /dev/null; then
  quota_mount=$work/small
  limited=
else
  limited="ulimit -f 400;"  # 200 KB: less than a volume
fi
stop_sshd
(eval "$limited" exec "$sshd" -D -e -f "$work/ssh/sshd_config" 2>> "$work/ssh/log") &
sshd_pid=$!
wait_up "sftp:$work/small"
printf 'small\n' > "$work/tiny.txt"
run backup "$work/tiny.txt" --to "rclone:sftp:$work/small" --name home --quiet
[[ $code == 0 ]] || fail "a small archive on the small disk: $code $(cat "$work/err")"
before=$(cd "$work/small" && sha256sum -- *)
run backup "$work/src" --to "rclone:sftp:$work/small" --name home --replace --volume-size 256K --quiet
[[ $code == 1 ]] && grep -q "cannot be sent to rclone:sftp:$work/small" "$work/err" ||
  fail "a backup larger than the disk: $code $(cat "$work/err")"
# A remote archive is split into volumes, however small: home.1.QVA.
[[ $(cd "$work/small" && sha256sum -- *.QVA) == "$before" ]] || fail "the full disk changed the archive: $(ls "$work/small")"
run verify "rclone:sftp:$work/small/home.1.QVA"
[[ $code == 0 ]] || fail "after the full disk: $code $(cat "$work/out" "$work/err")"
echo "remote servers test: passed"
