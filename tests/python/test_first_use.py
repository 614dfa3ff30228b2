"""Every process-wide object a fit can reach is made when kvel is imported,
and the fork handlers are registered then: a fit never makes one for the
first time. A fork that met a first-time set-up on another thread would
leave the child waiting forever for a set-up no thread of its finishes, or
with fork handlers that never ran.

A preload library counts, from the extension's own code, the function-local
statics made, the pthread_once routines run and the fork handlers
registered. None may come after import, whatever a program does first."""

import importlib.util
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

from subprocess_util import run_python

HERE = Path(__file__).parent


@pytest.fixture(scope="module")
def counter(tmp_path_factory):
    compiler = os.environ.get("CXX") or shutil.which("c++") or shutil.which("g++")
    if compiler is None:
        pytest.skip("no C++ compiler to build the preload library with")
    library = tmp_path_factory.mktemp("preload") / "first_init_counter.so"
    # Its own statics must not call the functions it wraps.
    subprocess.run(
        [compiler, "-shared", "-fPIC", "-O1", "-fno-threadsafe-statics",
         str(HERE / "first_init_counter.cpp"), "-o", str(library), "-ldl"],
        check=True,
    )
    return library


WHAT_A_PROGRAM_DOES = """
import ctypes
import os
import sys
import threading
import numpy as np

counter = ctypes.CDLL(os.environ["COUNTER"])
report = os.environ["REPORT"]
counter.first_init_start()
import kvel
at_import = counter.first_init_report((report + ".import").encode())
counter.first_init_start()


def exports(result):
    k = len(result)
    for s in result.top(k):
        s.pretty, s.latex, s.sympy_code, s.numpy_code, s.rust_code, s.mse, s.complexity, repr(s)
    result.top_latex(k), result.top_sympy(k), result.best(), repr(result)


x = np.linspace(0.5, 3.0, 20).reshape(-1, 1)
exports(kvel.Discoverer(max_epochs=0, max_depth=2).fit(x, np.exp(x[:, 0]) + 2.0))

grid = np.linspace(0.5, 3.0, 60)
x3 = np.stack([grid, grid[::-1], np.sin(grid) + 2.0], axis=1)
exports(kvel.Discoverer(max_epochs=60, max_depth=2).fit(x3, 1.5 * x3[:, 0] * x3[:, 1] + 0.25))

on_thread = []
thread = threading.Thread(
    target=lambda: on_thread.append(kvel.Discoverer(max_epochs=30).fit(x, np.sin(x[:, 0]) * 3.0)))
thread.start()
thread.join()
exports(on_thread[0])

for bad_y in (np.full(20, np.nan), np.full(20, 1e300)):
    try:
        kvel.Discoverer(max_epochs=5, max_depth=2).fit(x, bad_y)
    except ValueError:
        pass
try:
    kvel.Discoverer().fit(x, np.ones(3))
except ValueError:
    pass

after_import = counter.first_init_report(report.encode())
print(at_import, after_import, file=sys.stderr)
"""


def test_no_fit_or_export_makes_process_wide_state(counter, tmp_path):
    extension = importlib.util.find_spec("kvel").origin
    report = tmp_path / "report"
    env = dict(os.environ, LD_PRELOAD=str(counter), COUNTER=str(counter), REPORT=str(report),
               KVEL_COUNT_FROM=extension)
    done = run_python(WHAT_A_PROGRAM_DOES, env=env, timeout=600)
    assert done.returncode == 0, done.stdout + done.stderr
    at_import, after_import = map(int, done.stderr.split()[-2:])
    assert after_import == 0, f"{after_import} made after import, by caller offset in {extension}:\n" + report.read_text()
    # The counter sees the extension: importing it registers the fork handlers.
    made_at_import = Path(str(report) + ".import").read_text()
    assert at_import >= 1 and "__register_atfork" in made_at_import, made_at_import
