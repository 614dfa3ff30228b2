"""Runs a Python snippet in a fresh interpreter, for behaviour that concerns the
interpreter itself (imports, sub-interpreters, signals, shutdown)."""

import subprocess
import sys
import textwrap


def run_python(code, timeout=120, env=None):
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=timeout,
        env=env,
    )
