"""Time from SIGINT to KeyboardInterrupt in a search started from the main
thread, with the signal landing in each stage: scoring the topologies,
refining the best ones, and the final pass that scores every candidate as
shown.

    .venv/bin/python bench/interrupt_latency.py [rows ...]     (default: 2000 100000)

A calibration run per size finds the stages by watching the child's
descriptor 1, which points at /dev/null while constants are fitted: scoring
ends when it is first redirected, the final pass starts after it was last
restored. Each stage is then hit at its midpoint in a fresh process, three
times; the child stamps the moment it sees the KeyboardInterrupt on the same
monotonic clock as the parent's signal. Run it in the foreground: a process
that a non-interactive shell starts in the background ignores SIGINT.
"""

import os
import signal
import statistics
import subprocess
import sys
import time

CHILD = r"""
import sys, time
import numpy as np
import kvel
rows = int(sys.argv[1])
x = np.linspace(0.5, 3.0, rows).reshape(-1, 1)
y = np.exp(x[:, 0]) + 2.0
d = kvel.Discoverer(max_epochs=30)
sys.stderr.write(f"start {time.monotonic()}\n"); sys.stderr.flush()
try:
    d.fit(x, y)
    sys.stderr.write(f"done {time.monotonic()}\n")
except KeyboardInterrupt:
    sys.stderr.write(f"interrupted {time.monotonic()}\n")
"""


def start(rows):
    child = subprocess.Popen([sys.executable, "-c", CHILD, str(rows)], stderr=subprocess.PIPE, text=True)
    word, stamp = child.stderr.readline().split()
    assert word == "start", word
    return child, float(stamp)


def finish(child):
    word, stamp = child.stderr.readline().split()
    child.wait()
    return word, float(stamp)


def calibrate(rows):
    """(end of scoring, start of the final pass, end) in seconds from the start."""
    child, started = start(rows)
    link = f"/proc/{child.pid}/fd/1"
    first = last = None
    while child.poll() is None:
        try:
            silenced = os.readlink(link) == "/dev/null"
        except OSError:
            break
        now = time.monotonic()
        if silenced:
            first = first if first is not None else now
            last = now
        time.sleep(0.0005)
    word, ended = finish(child)
    assert word == "done" and first is not None, word
    return first - started, last - started, ended - started


def latency(rows, at):
    child, started = start(rows)
    time.sleep(max(0.0, started + at - time.monotonic()))
    sent = time.monotonic()
    child.send_signal(signal.SIGINT)
    word, stamp = finish(child)
    return (stamp - sent) * 1000 if word == "interrupted" else None


def main():
    sizes = [int(a) for a in sys.argv[1:]] or [2000, 100000]
    print("rows     stage        at (s)   latency ms (3 runs)")
    for rows in sizes:
        scored, last_fit, total = calibrate(rows)
        stages = [("scoring", scored / 2), ("refinement", (scored + last_fit) / 2), ("final pass", (last_fit + total) / 2)]
        for name, at in stages:
            runs = [latency(rows, at) for _ in range(3)]
            shown = ", ".join("finished first" if r is None else f"{r:.1f}" for r in runs)
            done = [r for r in runs if r is not None]
            median = f"  (median {statistics.median(done):.1f})" if done else ""
            print(f"{rows:<8} {name:<12} {at:7.2f}   {shown}{median}")
        print(f"{rows:<8} (whole search {total:.2f} s; scoring ends at {scored:.2f} s, the last fit at {last_fit:.2f} s)")


if __name__ == "__main__":
    main()
