"""Runs a command on a terminal and types an answer at each prompt.

    python3 terminal.py [--shown] ANSWER... -- COMMAND...

Each answer is typed once the next prompt (text ending in ": ") shows and
the program has turned the terminal's echo off: typed earlier, it would be
flushed when the echo goes off, or shown. With --shown the answers are to
prompts that keep the echo on, and are typed as soon as each prompt shows. Prints what the terminal showed,
then "exit N" with the command's exit status.
"""
import os
import pty
import select
import sys
import termios
import time


def echo_is_off(fd):
    try:
        return not termios.tcgetattr(fd)[3] & termios.ECHO
    except termios.error:
        return False


split = sys.argv.index("--")
shown_answers = sys.argv[1:2] == ["--shown"]
answers, command = sys.argv[1 + shown_answers:split], sys.argv[split + 1:]
pid, fd = pty.fork()
if pid == 0:
    os.execv(command[0], command)
shown, given = b"", 0
deadline = time.time() + 120
while time.time() < deadline:
    # A prompt is a line that ends in ": " with nothing after it yet; with
    # the echo on, the answer shown after it ends that line.
    prompted = given < len(answers) and (shown.endswith(b": ") if shown_answers else shown.count(b": ") > given)
    if prompted and (shown_answers or echo_is_off(fd)):
        os.write(fd, answers[given].encode() + b"\n")
        given += 1
        continue
    # Waits for output, or (prompted) a moment for the echo to go off.
    ready, _, _ = select.select([fd], [], [], 0.05 if prompted else deadline - time.time())
    if not ready:
        continue
    try:
        chunk = os.read(fd, 4096)
    except OSError:
        break
    if not chunk:
        break
    shown += chunk
_, status = os.waitpid(pid, 0)
sys.stdout.write(shown.decode("utf-8", "replace").replace("\r", ""))
sys.stdout.write("\nexit %d\n" % os.waitstatus_to_exitcode(status))
