# Sourced by the remote archive tests after common.sh: an empty rclone
# configuration (no remote of the user's reaches a test; each test adds its
# own), and a stand-in rclone that runs the real one, writing each command
# line to a log and, when asked, stopping at a given run.
#   wrapped_rclone DIR   makes DIR/rclone; DIR/calls gets one line per run
#                        ("N ARGS..."); with DIR/pause-at holding N, run N
#                        writes its process id to DIR/paused and to the
#                        pipe DIR/reached, then waits on the pipe DIR/go
#                        (resume DIR lets it run) or to be killed; with
#                        DIR/fail-from holding N,
#                        runs from N on fail as a cut connection does
#   wait_paused DIR      waits until a run has stopped there (two minutes
#                        at most, the bound of a run that never comes)
#   reset_wrapper DIR    the count from 0, no pause, no failure
command -v rclone > /dev/null || fail "rclone is not installed (Debian package rclone)"
export RCLONE_CONFIG=$work/rclone.conf
: > "$RCLONE_CONFIG"

wrapped_rclone() {
  local dir=$1 real
  real=$(command -v rclone)
  mkdir -p "$dir"
  cat > "$dir/rclone" <<EOF
#!/usr/bin/env bash
dir='$dir'
exec 9> "\$dir/lock"
flock 9
n=\$(( \$(cat "\$dir/count" 2>/dev/null || echo 0) + 1 ))
echo "\$n" > "\$dir/count"
echo "\$n \$*" >> "\$dir/calls"
flock -u 9
exec 9>&-
if [[ -f \$dir/pause-at && \$n == \$(cat "\$dir/pause-at") ]]; then
  echo \$\$ > "\$dir/paused"
  echo \$\$ > "\$dir/reached"
  read -r _ < "\$dir/go"
fi
if [[ -f \$dir/fail-from && \$n -ge \$(cat "\$dir/fail-from") ]]; then
  echo "ERROR : connection cut by the test" >&2
  exit 5
fi
exec '$real' "\$@"
EOF
  chmod +x "$dir/rclone"
  reset_wrapper "$dir"
}

wait_paused() {
  local dir=$1 line
  # Opened for reading and writing, the pipe's opening does not wait.
  exec 8<> "$dir/reached"
  if ! read -r -t 120 -u 8 line; then
    exec 8>&-
    fail "no rclone run stopped at run $(cat "$dir/pause-at") (runs: $(cat "$dir/count" 2>/dev/null))"
  fi
  exec 8>&-
}

resume() { echo go > "$1/go"; }

reset_wrapper() {
  rm -f "$1/count" "$1/calls" "$1/pause-at" "$1/paused" "$1/fail-from" "$1/reached" "$1/go"
  mkfifo "$1/reached" "$1/go"
}
