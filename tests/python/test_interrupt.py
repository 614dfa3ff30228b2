"""Ctrl-C stops a running search with KeyboardInterrupt."""

import signal
import subprocess
import sys
import textwrap
import time

import pytest

# Each child announces itself, then runs a search far longer than the test
# waits; the parent interrupts it once the search has started.
CHILD = """
import os, sys
import numpy as np
import kvel
rows = {rows}
x = np.linspace(0.5, 3.0, rows).reshape(-1, 1)
y = np.exp(x[:, 0]) + 2.0
print("ready", flush=True)
try:
    kvel.Discoverer(max_epochs=100000).fit(x, y)
except KeyboardInterrupt:
    print("interrupted", flush=True)
    os.write(1, b"descriptor 1 restored\\n")
    sys.exit(0)
print("not interrupted", flush=True)
sys.exit(1)
"""


@pytest.mark.skipif(sys.platform == "win32", reason="POSIX signals")
@pytest.mark.parametrize(
    "rows, delay",
    [(100_000, 1.0), (2_000, 2.5)],
    ids=["while scoring", "while fitting"],
)
def test_sigint_stops_the_search(rows, delay):
    child = subprocess.Popen(
        [sys.executable, "-c", textwrap.dedent(CHILD.format(rows=rows))],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    )
    try:
        assert child.stdout.readline().strip() == "ready"
        time.sleep(delay)
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=60)
    finally:
        if child.poll() is None:
            child.kill()
            child.communicate()
    assert child.returncode == 0, out + err
    assert "interrupted" in out and "descriptor 1 restored" in out, out + err
