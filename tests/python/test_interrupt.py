"""Ctrl-C stops a running search with KeyboardInterrupt."""

import subprocess
import sys
import textwrap

import pytest

from subprocess_util import AT_EACH_POLL

# The child interrupts its own search at one of its polls: at the second
# ("scoring": scoring 100,000 rows takes dozens of poll intervals) or at the
# first while descriptor 1 is /dev/null, which it is only while constants
# are fitted ("fitting"). Either search runs far longer than any test waits.
CHILD = (
    AT_EACH_POLL
    + """
import os
import numpy as np
import kvel

rows, phase = int(sys.argv[1]), sys.argv[2]
x = np.linspace(0.5, 3.0, rows).reshape(-1, 1)
y = np.exp(x[:, 0]) + 2.0
d = kvel.Discoverer(max_epochs=100000)
polls = 0


def interrupt_in_phase():
    global polls
    polls += 1
    fitting = os.readlink("/proc/self/fd/1") == "/dev/null"
    if phase == "fitting" and fitting or phase == "scoring" and polls == 2:
        if phase == "scoring" and fitting:
            os.write(2, b"past scoring at the second poll\\n")
        os.kill(os.getpid(), signal.SIGINT)
    return True


# A shell starts a background job with SIGINT ignored, and Python then
# installs no handler of its own: the one Ctrl-C would meet in a terminal.
signal.signal(signal.SIGINT, signal.default_int_handler)
call_at_each_poll(interrupt_in_phase)
try:
    d.fit(x, y)
except KeyboardInterrupt:
    print("interrupted", flush=True)
    os.write(1, b"descriptor 1 restored\\n")
    sys.exit(0)
print("not interrupted", flush=True)
sys.exit(1)
"""
)


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
