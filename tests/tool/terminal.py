"""Runs a command on a terminal and types an answer at each prompt.

    python3 terminal.py ANSWER... -- COMMAND...

Each answer is typed once the next prompt (text ending in ": ") shows:
typed earlier, it would be flushed with the echo turned off. Prints what
the terminal showed, then "exit N" with the command's exit status.
"""
import os
import pty
import sys
import time

split = sys.argv.index("--")
answers, command = sys.argv[1:split], sys.argv[split + 1:]
pid, fd = pty.fork()
if pid == 0:
    os.execv(command[0], command)
shown, given = b"", 0
deadline = time.time() + 120
while time.time() < deadline:
    try:
        chunk = os.read(fd, 4096)
    except OSError:
        break
    if not chunk:
        break
    shown += chunk
    while given < len(answers) and shown.count(b": ") > given:
        time.sleep(0.2)
        os.write(fd, answers[given].encode() + b"\n")
        given += 1
_, status = os.waitpid(pid, 0)
sys.stdout.write(shown.decode("utf-8", "replace").replace("\r", ""))
sys.stdout.write("\nexit %d\n" % os.waitstatus_to_exitcode(status))
