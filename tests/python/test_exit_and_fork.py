"""Searches running on other threads when the interpreter exits or the
process forks: exit is clean, and forked children neither hang nor lose
their standard output. Each case runs in a fresh interpreter with a
deadline. The parent reports on standard error: while its threads fit,
what it writes to descriptor 1 is discarded."""

import pytest

from subprocess_util import run_python

FITTING_THREADS = """
import sys
import threading
import warnings
import numpy as np
import kvel

warnings.simplefilter("ignore", DeprecationWarning)  # fork() with threads running


def fit_forever(rows, **settings):
    x = np.linspace(0.5, 3.0, rows).reshape(-1, 1)
    y = np.exp(x[:, 0]) + 2.0
    d = kvel.Discoverer(**settings)
    while True:
        d.fit(x, y)


def start(rows, count=1, **settings):
    for _ in range(count):
        threading.Thread(target=fit_forever, args=(rows,), kwargs=settings, daemon=True).start()
"""


@pytest.mark.parametrize("wait", [0.05, 0.3, 0.7])
def test_exit_while_daemon_threads_fit_is_clean(wait):
    for _ in range(4):
        done = run_python(
            FITTING_THREADS
            + f"""
import time
start(200, count=2, max_epochs=50)
time.sleep({wait})
print("ok", file=sys.stderr)
""",
            timeout=60,
        )
        assert done.returncode == 0, done.stderr
        assert done.stderr.strip() == "ok", done.stderr


def test_children_forked_during_fits_fit_and_print():
    done = run_python(
        FITTING_THREADS
        + """
import os
import signal
import time

start(20, max_epochs=0, max_depth=2)
start(200, max_epochs=20, max_depth=2)
time.sleep(0.05)
x = np.linspace(0.5, 3.0, 20).reshape(-1, 1)
y = np.exp(x[:, 0])
children = 150
read_end, write_end = os.pipe()
for i in range(children):
    pid = os.fork()
    if pid == 0:
        os.close(read_end)
        signal.alarm(20)  # a child stuck on a lock dies of SIGALRM
        best = kvel.Discoverer(max_epochs=0, max_depth=1).fit(x, y).best().pretty
        print(f"child {i} {best}", flush=True)  # through its own descriptor 1
        os.write(write_end, b"1")
        os._exit(0)
    _, status = os.waitpid(pid, 0)
    assert os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0, (i, status)
os.close(write_end)
finished = b""
while chunk := os.read(read_end, 4096):
    finished += chunk
assert len(finished) == children, len(finished)
print("parent ok", file=sys.stderr)
""",
        timeout=120,
    )
    assert done.returncode == 0, done.stdout + done.stderr
    assert done.stderr.strip() == "parent ok", done.stderr
    printed = {line for line in done.stdout.splitlines() if line.startswith("child ")}
    assert printed == {f"child {i} eml(x0, 1)" for i in range(150)}, done.stdout


def test_fork_pool_created_during_a_fit_completes():
    done = run_python(
        FITTING_THREADS
        + """
import multiprocessing


def best(rows):
    x = np.linspace(0.5, 3.0, rows).reshape(-1, 1)
    return kvel.Discoverer(max_epochs=0, max_depth=1).fit(x, np.exp(x[:, 0])).best().pretty


if __name__ == "__main__":
    start(200, max_epochs=20, max_depth=2)
    context = multiprocessing.get_context("fork")
    for _ in range(5):
        with context.Pool(2) as pool:
            assert pool.map(best, [10, 20, 30, 40]) == ["eml(x0, 1)"] * 4
    print("ok", file=sys.stderr)
""",
        timeout=120,
    )
    assert done.returncode == 0, done.stdout + done.stderr
    assert done.stderr.strip() == "ok", done.stderr
