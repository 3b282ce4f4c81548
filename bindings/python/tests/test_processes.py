"""Real processes over the binding: a host killed in the middle of a backup,
and two hosts writing one archive at once. No timing decides anything: the
child acts from inside its progress callback."""

import os
import subprocess
import sys

import pytest

import qvbackup

CHILD = r"""
import os, signal, sys
import qvbackup
source, to, mode, at = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
seen = [0]
def progress(percent):
    seen[0] += 1
    if seen[0] != at:
        return
    if mode == "kill":
        os.kill(os.getpid(), signal.SIGKILL)
    print("holding", flush=True)
    sys.stdin.readline()
try:
    result = qvbackup.backup([source], to=to, name="chain", incremental=True, progress=progress)
    print("done", result.increment, flush=True)
except qvbackup.QvbackupError as error:
    print("error", error.errno, error.message, flush=True)
    sys.exit(1)
"""


@pytest.fixture
def tree(tmp_path):
    source = tmp_path / "src"
    source.mkdir()
    for i in range(30):
        (source / ("f%02d.bin" % i)).write_bytes(os.urandom(40000))
    return source


def child(source, to, mode, at, **kwargs):
    return subprocess.Popen([sys.executable, "-c", CHILD, str(source), str(to), mode, str(at)],
                            env=dict(os.environ), text=True, **kwargs)


def restored_names(archive, target):
    qvbackup.restore(archive, to=target)
    return sorted(p.name for p in target.rglob("*.bin"))


@pytest.mark.skipif(sys.platform == "win32", reason="SIGKILL")
@pytest.mark.parametrize("at", [1, 2, 5, 12])
def test_a_host_killed_mid_backup_leaves_the_chain_as_it_was(tree, tmp_path, at):
    to = tmp_path / "arch"
    base = qvbackup.backup([tree], to=to, name="chain", incremental=True)
    for i in range(30):
        (tree / ("f%02d.bin" % i)).write_bytes(os.urandom(40000))
    (tree / "new.bin").write_bytes(b"new")
    killed = child(tree, to, "kill", at, stdout=subprocess.PIPE)
    killed.communicate()
    assert killed.returncode == -9
    # The base lists, verifies and restores whole; no increment passes for one.
    assert [m["number"] for m in qvbackup.members(base.archive) if m["state"] == "complete"] == [0]
    assert len(qvbackup.list(base.archive)) == 30
    assert qvbackup.verify(base.archive)["ok"]
    assert restored_names(base.archive, tmp_path / "back") == sorted("f%02d.bin" % i for i in range(30))
    # The next backup after the crash makes the increment.
    again = qvbackup.backup([tree], to=to, name="chain", incremental=True)
    assert again.increment == 1 and again.files == 31


def test_two_hosts_writing_one_archive_take_turns(tree, tmp_path):
    to = tmp_path / "arch"
    qvbackup.backup([tree], to=to, name="chain", incremental=True)
    (tree / "new.bin").write_bytes(b"new")
    holder = child(tree, to, "hold", 1, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    assert holder.stdout.readline().strip() == "holding"
    with pytest.raises(qvbackup.QvbackupError) as busy:
        qvbackup.backup([tree], to=to, name="chain", incremental=True)
    assert busy.value.errno == 170
    assert "in use" in busy.value.message
    holder.stdin.write("go\n")
    holder.stdin.flush()
    out, _ = holder.communicate()
    assert holder.returncode == 0 and out.split()[:2] == ["done", "1"], out
    assert [m["number"] for m in qvbackup.members(str(to / "chain.QVA"))] == [0, 1]
