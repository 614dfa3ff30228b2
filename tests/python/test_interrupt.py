"""Ctrl-C stops a running search with KeyboardInterrupt."""

import subprocess
import sys
import textwrap

import pytest

# The child interrupts its own search at one of its polls, where the search
# runs pending signal handlers. A repeating timer keeps SIGALRM pending; its
# handler counts the polls once a second thread has marked the search as
# running (with a switch interval this long, that thread gets the
# interpreter lock only when the main thread lets it go, which it first
# does inside the search). It sends SIGINT at the second poll ("scoring":
# scoring 100,000 rows takes dozens of poll intervals) or at the first one
# while descriptor 1 is /dev/null, which it is only while constants are
# fitted ("fitting"). Either search runs far longer than any test waits.
CHILD = """
import os
import signal
import sys
import threading
import numpy as np
import kvel

rows, phase = int(sys.argv[1]), sys.argv[2]
x = np.linspace(0.5, 3.0, rows).reshape(-1, 1)
y = np.exp(x[:, 0]) + 2.0
d = kvel.Discoverer(max_epochs=100000)
searching = False
polls = 0


def at_poll(signum, frame):
    global polls
    if not searching:
        return
    polls += 1
    fitting = os.readlink("/proc/self/fd/1") == "/dev/null"
    if phase == "fitting" and fitting or phase == "scoring" and polls == 2:
        if phase == "scoring" and fitting:
            os.write(2, b"past scoring at the second poll\\n")
        signal.setitimer(signal.ITIMER_REAL, 0)
        os.kill(os.getpid(), signal.SIGINT)


def mark_the_search_running():
    global searching
    gate.acquire()  # then the interpreter lock, which the search lets go
    searching = True


signal.signal(signal.SIGALRM, at_poll)
sys.setswitchinterval(1000.0)
gate = threading.Lock()
gate.acquire()
threading.Thread(target=mark_the_search_running, daemon=True).start()
signal.setitimer(signal.ITIMER_REAL, 0.002, 0.002)
gate.release()
try:
    d.fit(x, y)
except KeyboardInterrupt:
    print("interrupted", flush=True)
    os.write(1, b"descriptor 1 restored\\n")
    sys.exit(0)
print("not interrupted", flush=True)
sys.exit(1)
"""


@pytest.mark.skipif(sys.platform == "win32", reason="POSIX signals")
@pytest.mark.parametrize("rows, phase", [(100_000, "scoring"), (2_000, "fitting")], ids=["while scoring", "while fitting"])
def test_sigint_stops_the_search(rows, phase):
    child = subprocess.Popen(
        [sys.executable, "-c", textwrap.dedent(CHILD), str(rows), phase],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    )
    try:
        out, err = child.communicate(timeout=120)
    finally:
        if child.poll() is None:
            child.kill()
            child.communicate()
    assert child.returncode == 0, out + err
    assert (out, err) == ("interrupted\ndescriptor 1 restored\n", ""), out + err
