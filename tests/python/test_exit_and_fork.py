"""Searches running on other threads when the interpreter exits or the
process forks: exit is clean, and forked children neither hang nor lose
their standard output. Each case runs in a fresh interpreter with a
deadline. The parent reports on standard error: while its threads fit,
what it writes to descriptor 1 is discarded."""

import os
import signal
import subprocess
import sys
import textwrap

import pytest

from subprocess_util import AT_EACH_POLL, read_until_end, run_python

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
@pytest.mark.parametrize("poll", [1, 2, 4])
def test_a_child_forked_by_a_signal_handler_during_a_fit_finishes_it(poll):
    # A signal handler runs on the fitting thread at the search's polls. It
    # forks at the `poll`-th one while descriptor 1 is /dev/null, that is
    # while constants are fitted, on two threads: however fast or busy the
    # machine, the fork lands inside the fit. The child continues the search
    # without the other thread.
    done = run_python(
        AT_EACH_POLL
        + f"""
import os
import select

# Constants are fitted for about 35 of the search's poll intervals on two
# CPUs of a 2026 x86-64 machine; on more, refinement takes more threads and
# ends sooner.
os.sched_setaffinity(0, sorted(os.sched_getaffinity(0))[:2])

import numpy as np
import kvel

x = np.linspace(0.5, 3.0, 6000).reshape(-1, 1)
y = np.exp(x[:, 0]) + 2.0
d = kvel.Discoverer(max_epochs=1000, max_depth=2)


def text(front):
    return "\\n".join(f"{{s.pretty}} {{s.mse!r}}" for s in front.top(len(front))).encode()


undisturbed = text(d.fit(x, y))
read_end, write_end = os.pipe()
forked = []
polls = 0


def fork_while_fitting():
    global polls
    if os.readlink("/proc/self/fd/1") == "/dev/null":
        polls += 1
        if polls == {poll}:
            forked.append(os.fork())
    return not forked


call_at_each_poll(fork_while_fitting)
front = text(d.fit(x, y))
if forked and forked[0] == 0:
    os.write(write_end, front)
    os._exit(0)
assert forked, f"the fit ended after {{polls}} polls while constants were fitted"
assert front == undisturbed
os.close(write_end)
from_child = b""
while True:
    if not select.select([read_end], [], [], 120)[0]:  # a deadline for a child that hangs
        os.kill(forked[0], signal.SIGKILL)
        raise AssertionError("the child waits for threads it lacks")
    chunk = os.read(read_end, 65536)
    if not chunk:
        break
    from_child += chunk
_, status = os.waitpid(forked[0], 0)
assert os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0, status
assert from_child == undisturbed, (from_child, undisturbed)
print("ok", file=sys.stderr)
""",
        timeout=300,
    )
    # Python 3.12 and later may also warn that fork() was called with threads running.
    assert done.returncode == 0, done.stdout + done.stderr
    assert "ok" in done.stderr.splitlines(), done.stderr


def test_programs_started_during_a_fit_do_not_hold_the_real_stdout():
    # A server whose standard output is a pipe starts a helper in the
    # background while another thread fits, and exits: its reader must see
    # the end of the pipe while the helper still runs.
    server = textwrap.dedent(
        """
        import os
        import threading
        import time
        import numpy as np
        import kvel

        x = np.linspace(0.5, 3.0, 2000).reshape(-1, 1)
        y = np.exp(x[:, 0]) + 2.0
        d = kvel.Discoverer(max_epochs=400, max_depth=2)
        threading.Thread(target=lambda: [d.fit(x, y) for _ in iter(int, 1)], daemon=True).start()
        deadline = time.monotonic() + 120
        while os.readlink("/proc/self/fd/1") != "/dev/null":  # constants being fitted
            assert time.monotonic() < deadline
            time.sleep(0.001)
        os.system("sleep 600 >/dev/null 2>&1 </dev/null & echo $! >&2")
        os._exit(0)
        """
    )
    process = subprocess.Popen([sys.executable, "-c", server], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        # The helper's stderr is /dev/null: this ends with the server.
        err = read_until_end(process.stderr, 120)
        assert err is not None, "the server hangs"
        err = err.decode()
        assert process.wait(timeout=120) == 0, err
    except BaseException:
        process.kill()
        process.wait()
        raise
    finally:
        process.stderr.close()
    helper = int(err.split()[-1])
    try:
        out = read_until_end(process.stdout, 120)
        assert out == b"", "no end of file on the server's stdout while the helper runs"
        os.kill(helper, 0)  # the helper still runs: it was not what held the pipe
    finally:
        os.kill(helper, signal.SIGKILL)
        process.stdout.close()
