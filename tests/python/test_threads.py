"""The module starts no threads of its own beyond refinement's, which end
with the search: importing it and running a fit leave the process's thread
count as it was."""

from subprocess_util import run_python


def test_import_and_fit_leave_the_thread_count_as_it_was():
    done = run_python(
        """
import os
import numpy as np

def threads():
    return len(os.listdir("/proc/self/task"))

before = threads()
import kvel
after_import = threads()
x = np.linspace(0.5, 3.0, 200).reshape(-1, 1)
kvel.Discoverer(max_epochs=5, max_depth=2).fit(x, np.exp(x[:, 0]) + 2.0)
after_fit = threads()
assert before == after_import == after_fit, (before, after_import, after_fit)
with open("/proc/self/maps") as maps:
    blas = {line.split()[-1] for line in maps if "libopenblas" in line}
assert blas and all("openblas-serial" in path for path in blas), blas
print("ok")
"""
    )
    assert done.returncode == 0, done.stdout + done.stderr
    assert done.stdout.strip() == "ok", done.stdout + done.stderr
