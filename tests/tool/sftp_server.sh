# Sourced by what needs an SFTP server on 127.0.0.1 (the remote server tests,
# bench/remote.sh), after `work`, `fail` and RCLONE_CONFIG are set: an
# OpenSSH server for this user with a host key made now and one authorised
# key, serving SFTP in process, reached as the rclone remote "sftp".
#   start_sshd / stop_sshd   start and stop it (sshd_pid: its process)
#   wait_up REMOTE           waits until REMOTE answers (a minute at most)
sshd=$(command -v sshd || echo /usr/sbin/sshd)
[[ -x $sshd ]] || fail "the OpenSSH server is not installed (Debian package openssh-server)"
sshd_pid=

free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

mkdir -p "$work/ssh"
ssh-keygen -q -t ed25519 -N '' -f "$work/ssh/host_key"
ssh-keygen -q -t ed25519 -N '' -f "$work/ssh/client_key"
cp "$work/ssh/client_key.pub" "$work/ssh/authorized_keys"
chmod 700 "$work/ssh"
ssh_port=$(free_port)
cat > "$work/ssh/sshd_config" <<CONFIG
ListenAddress 127.0.0.1
Port $ssh_port
HostKey $work/ssh/host_key
PidFile $work/ssh/sshd.pid
AuthorizedKeysFile $work/ssh/authorized_keys
PasswordAuthentication no
KbdInteractiveAuthentication no
PubkeyAuthentication yes
StrictModes no
UsePAM no
Subsystem sftp internal-sftp
CONFIG
[[ $(id -u) != 0 ]] || mkdir -p /run/sshd  # its privilege separation folder
cat >> "$RCLONE_CONFIG" <<CONFIG
[sftp]
type = sftp
host = 127.0.0.1
port = $ssh_port
user = $(id -un)
key_file = $work/ssh/client_key
shell_type = unix

CONFIG

start_sshd() {
  "$sshd" -D -e -f "$work/ssh/sshd_config" 2>> "$work/ssh/log" &
  sshd_pid=$!
}
stop_sshd() {
  kill "$sshd_pid" 2>/dev/null || true
  wait "$sshd_pid" 2>/dev/null || true
  sshd_pid=
}

wait_up() {
  local i
  for ((i = 0; i < 600; ++i)); do
    rclone lsf "$1" > /dev/null 2>&1 && return 0
    sleep 0.1
  done
  fail "the server of $1 did not start: $(tail -5 "$work/ssh/log" 2>/dev/null)"
}
