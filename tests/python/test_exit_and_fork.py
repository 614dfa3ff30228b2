"""Searches running on other threads when the interpreter exits or the
process forks: exit is clean, and forked children neither hang nor lose
their standard output. Each case runs in a fresh interpreter with a
deadline. The parent reports on standard error: while its threads fit,
what it writes to descriptor 1 is discarded."""

import os
import subprocess
import sys
import textwrap
import time

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


@pytest.mark.skipif(len(os.sched_getaffinity(0)) < 2, reason="fits run on one thread with one CPU")
@pytest.mark.parametrize("fraction", [0.3, 0.6, 0.9])
def test_a_child_forked_by_a_signal_handler_during_a_fit_finishes_it(fraction):
    # The handler runs on the fitting thread between steps, at a point of the
    # fit measured on an undisturbed one, while refinement fits on two
    # threads; the child continues the search without the other thread.
    done = run_python(
        f"""
import os
import signal
import sys
import time
import numpy as np
import kvel

x = np.linspace(0.5, 3.0, 3000).reshape(-1, 1)
y = np.exp(x[:, 0]) + 2.0
d = kvel.Discoverer(max_epochs=1000, max_depth=2)


def text(front):
    return "\\n".join(f"{{s.pretty}} {{s.mse!r}}" for s in front.top(len(front))).encode()


start = time.monotonic()
undisturbed = text(d.fit(x, y))
took = time.monotonic() - start
read_end, write_end = os.pipe()
forked = []


def fork_once(signum, frame):
    if not forked:
        forked.append(os.fork())
        if forked[0] == 0:
            signal.alarm(60)  # a child that waits for threads it lacks dies of SIGALRM


signal.signal(signal.SIGALRM, fork_once)
signal.setitimer(signal.ITIMER_REAL, {fraction} * took)
front = text(d.fit(x, y))
if forked and forked[0] == 0:
    os.write(write_end, front)
    os._exit(0)
assert forked, "the fit ended before the signal"
assert front == undisturbed
os.close(write_end)
from_child = b""
while chunk := os.read(read_end, 65536):
    from_child += chunk
_, status = os.waitpid(forked[0], 0)
assert os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0, status
assert from_child == undisturbed, (from_child, undisturbed)
print("ok", file=sys.stderr)
""",
        timeout=120,
    )
    assert done.returncode == 0, done.stdout + done.stderr
    assert done.stderr.strip() == "ok", done.stderr


def test_programs_started_during_a_fit_do_not_hold_the_real_stdout():
    # A server whose standard output is a pipe starts a helper in the
    # background while another thread fits; its reader must see the end of
    # the pipe when the server exits, not when the helper does.
    server = textwrap.dedent(
        """
        import os
        import sys
        import threading
        import time
        import numpy as np
        import kvel

        x = np.linspace(0.5, 3.0, 2000).reshape(-1, 1)
        y = np.exp(x[:, 0]) + 2.0
        d = kvel.Discoverer(max_epochs=400, max_depth=2)
        threading.Thread(target=lambda: [d.fit(x, y) for _ in iter(int, 1)], daemon=True).start()
        deadline = time.monotonic() + 60
        while os.readlink("/proc/self/fd/1") != "/dev/null":  # constants being fitted
            assert time.monotonic() < deadline
            time.sleep(0.001)
        os.system("sleep 4 >/dev/null 2>&1 </dev/null &")
        os._exit(0)
        """
    )
    process = subprocess.Popen([sys.executable, "-c", server], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        process.wait(timeout=60)
        exited = time.monotonic()
        process.stdout.read()
        eof_after = time.monotonic() - exited
    finally:
        process.kill()
    assert process.returncode == 0, process.stderr.read()
    assert eof_after < 1.0, f"end of file {eof_after:.1f} s after the server exited"
