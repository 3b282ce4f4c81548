# Sourced by the remote archive tests after common.sh: an empty rclone
# configuration (no remote of the user's reaches a test; each test adds its
# own), and a stand-in rclone that runs the real one, writing each command
# line to a log and, when asked, stopping at a given run.
#   wrapped_rclone DIR   makes DIR/rclone; DIR/calls gets one line per run
#                        ("N ARGS..."); with DIR/pause-at holding N, run N
#                        writes its process id to DIR/paused and waits
#                        there until DIR/resume appears (then runs) or it
#                        is killed; with DIR/fail-from holding N,
#                        runs from N on fail as a cut connection does
#   wait_paused DIR      waits until a run has stopped there (or 60 s)
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
  echo \$\$ > "\$dir/paused.tmp" && mv "\$dir/paused.tmp" "\$dir/paused"
  while [[ ! -f \$dir/resume ]]; do sleep 0.05; done
fi
if [[ -f \$dir/fail-from && \$n -ge \$(cat "\$dir/fail-from") ]]; then
  echo "ERROR : connection cut by the test" >&2
  exit 5
fi
exec '$real' "\$@"
EOF
  chmod +x "$dir/rclone"
}

wait_paused() {
  local dir=$1 i
  for ((i = 0; i < 1200; ++i)); do
    [[ -f $dir/paused ]] && return 0
    sleep 0.05
  done
  fail "no rclone run stopped at run $(cat "$dir/pause-at") (runs: $(cat "$dir/count" 2>/dev/null))"
}

# reset_wrapper DIR: the count from 0, no pause, no failure.
reset_wrapper() {
  rm -f "$1/count" "$1/calls" "$1/pause-at" "$1/paused" "$1/fail-from" "$1/resume"
}
