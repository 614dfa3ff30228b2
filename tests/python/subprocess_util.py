"""Runs a Python snippet in a fresh interpreter, for behaviour that concerns the
interpreter itself (imports, sub-interpreters, signals, shutdown)."""

import os
import select
import subprocess
import sys
import textwrap
import time


def run_python(code, timeout=120, env=None):
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=timeout,
        env=env,
    )


def read_until_end(stream, seconds):
    """What `stream` (a pipe) gives until its end, or None if the end has
    not come within `seconds`: a deadline that only catches a hang."""
    deadline = time.monotonic() + seconds
    data = b""
    while True:
        ready, _, _ = select.select([stream], [], [], max(0.0, deadline - time.monotonic()))
        if not ready:
            return None
        chunk = os.read(stream.fileno(), 65536)
        if not chunk:
            return data
        data += chunk


# For a snippet: call_at_each_poll(on_poll) makes the next search this
# (main) thread starts run on_poll() at each of its polls, where the search
# runs pending signal handlers, for as long as on_poll() returns true. A
# second thread keeps SIGUSR1 pending: it sends the next one once the
# handler has run. With a switch interval this long, that thread gets the
# interpreter lock only when the main thread lets it go, which it first
# does inside the search; so start the search right after the call.
AT_EACH_POLL = """
import signal
import sys
import threading


def call_at_each_poll(on_poll):
    main = threading.get_ident()
    handled = threading.Semaphore(0)
    gate = threading.Lock()
    gate.acquire()

    def at_poll(signum, frame):
        if on_poll():
            handled.release()

    def ask():
        gate.acquire()  # then the interpreter lock, which the search lets go
        while True:
            signal.pthread_kill(main, signal.SIGUSR1)
            handled.acquire()

    signal.signal(signal.SIGUSR1, at_poll)
    sys.setswitchinterval(1000.0)
    threading.Thread(target=ask, daemon=True).start()
    gate.release()
"""
