#!/usr/bin/env python3
"""The solvers' progress line, as a user sees it.

    progress_pty.py VELORA1 MODEL_DIR

MODEL_DIR holds input.txt and the golden output1.txt and autocad1.scr.
With standard error on a pseudo-terminal the line is drawn ("\\rmajor 1  minor
1 ...") and cleared at the end (blanks between two "\\r"); with --quiet the
terminal gets nothing; with standard error redirected to a pipe nothing is
written; in every case the result files are the golden bytes.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

program, model = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
failures = []


def solve(arguments, terminal):
    """Runs the solver on the model in a scratch folder; returns (status,
    bytes on standard error, whether the result files are the golden ones)."""
    with tempfile.TemporaryDirectory() as work:
        shutil.copy(os.path.join(model, "input.txt"), work)
        if terminal:
            master, slave = os.openpty()
            proc = subprocess.Popen([program] + arguments, cwd=work, stdin=subprocess.DEVNULL,
                                    stdout=subprocess.DEVNULL, stderr=slave)
            os.close(slave)
            seen = b""
            while True:
                try:
                    chunk = os.read(master, 4096)
                except OSError:  # EIO: the terminal's last writer has gone
                    break
                if not chunk:
                    break
                seen += chunk
            os.close(master)
            status = proc.wait()
        else:
            proc = subprocess.run([program] + arguments, cwd=work, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            status, seen = proc.returncode, proc.stderr
        same = True
        for mine, golden in (("output.txt", "output1.txt"), ("autocad.scr", "autocad1.scr")):
            with open(os.path.join(work, mine), "rb") as a, open(os.path.join(model, golden), "rb") as b:
                same = same and a.read() == b.read()
        return status, seen, same


def check(name, condition, detail=""):
    if not condition:
        failures.append(f"{name} {detail}")


LINE = re.compile(rb"\rmajor (\d+)  minor (\d+)  \|g\| \S+ / \S+ \[[#.]{16}\]  \d+ ev/s  \d+:\d\d")
CLEARED = re.compile(rb"\r +\r$")

status, seen, same = solve([], terminal=True)
check("terminal: status", status == 0, status)
check("terminal: result files", same)
lines = LINE.findall(seen)
check("terminal: a progress line is drawn", len(lines) >= 1, seen[:200])
check("terminal: the first line shows major 1, minor 1", lines[:1] == [(b"1", b"1")], lines[:1])
check("terminal: the line is cleared at the end", CLEARED.search(seen) is not None, seen[-120:])
check("terminal: no line end is ever written", b"\n" not in seen, seen[:200])
width = max((len(part) for part in seen.split(b"\r")), default=0)
check("terminal: the line fits 80 columns", width < 80, width)

status, seen, same = solve(["--quiet"], terminal=True)
check("--quiet: status", status == 0, status)
check("--quiet: result files", same)
check("--quiet: nothing on the terminal", seen == b"", seen[:200])

status, seen, same = solve([], terminal=False)
check("redirected: status", status == 0, status)
check("redirected: result files", same)
check("redirected: nothing on standard error", seen == b"", seen[:200])

status, seen, same = solve(["--progress"], terminal=False)
check("--progress redirected: status", status == 0, status)
check("--progress redirected: result files", same)
check("--progress redirected: the line is drawn", LINE.search(seen) is not None, seen[:200])
check("--progress redirected: and cleared", CLEARED.search(seen) is not None, seen[-120:])

for f in failures:
    print("FAIL:", f)
if not failures:
    print("progress shown on a terminal and with --progress, cleared at the end, absent otherwise; "
          "result files the same bytes")
sys.exit(1 if failures else 0)
