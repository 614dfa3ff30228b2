"""The module in the life of an interpreter: re-import, sub-interpreters, a
NumPy that cannot be imported, inputs that do not fit in memory. Each case
runs in its own interpreter and must also shut down cleanly."""

import pytest

from subprocess_util import run_python

DATA = """
import numpy as np
x = np.linspace(0.5, 3.0, 20).reshape(-1, 1)
y = np.exp(x[:, 0])
"""


def check(code):
    done = run_python(code)
    assert done.returncode == 0, done.stdout + done.stderr
    assert done.stdout.strip().endswith("ok"), done.stdout + done.stderr


def test_reimport_keeps_each_module_its_own_classes():
    check(
        DATA
        + """
import gc, sys
import kvel
first = kvel
d = kvel.Discoverer(max_epochs=2, max_depth=1)
del sys.modules["kvel"]
import kvel as second
assert second is not first
d2 = second.Discoverer(max_epochs=2, max_depth=1)
r2 = d2.fit(x, y)
assert isinstance(r2, second.DiscoveryResult) and not isinstance(r2, first.DiscoveryResult)
assert isinstance(r2.best(), second.Solution)
del second, d2, r2
sys.modules.pop("kvel", None)
gc.collect()
r = d.fit(x, y)
assert type(r).__name__ == "DiscoveryResult"
assert isinstance(r, first.DiscoveryResult)
assert isinstance(r.best(), first.Solution) and isinstance(r.top(1)[0], first.Solution)
assert r.best().pretty == "eml(x0, 1)"
print("ok")
"""
    )


def test_sub_interpreter_import_leaves_the_main_module_intact():
    check(
        DATA
        + """
try:
    import _xxsubinterpreters as interpreters
except ImportError:
    import _interpreters as interpreters
import kvel
for _ in range(2):
    i = interpreters.create()
    try:
        interpreters.run_string(i, "import kvel\\nkvel.Discoverer(max_epochs=1)")
    except Exception as e:  # an isolated interpreter may refuse an extension
        print("sub-interpreter:", type(e).__name__)
    interpreters.destroy(i)
r = kvel.Discoverer(max_epochs=2, max_depth=1).fit(x, y)
assert isinstance(r, kvel.DiscoveryResult) and isinstance(r.best(), kvel.Solution)
print("ok")
"""
    )


def test_failed_numpy_import_is_raised_each_time_and_retried():
    check(
        """
import sys
saved = sys.modules.pop("numpy", None)
sys.modules["numpy"] = None
import kvel
d = kvel.Discoverer(max_epochs=2, max_depth=1)
for _ in range(2):
    try:
        d.fit(1, 2)
    except ImportError:
        pass
    else:
        raise AssertionError("fit without NumPy did not raise ImportError")
del sys.modules["numpy"]
import numpy as np
x = np.linspace(0.5, 3.0, 20).reshape(-1, 1)
r = d.fit(x, np.exp(x[:, 0]))
assert r.best().pretty == "eml(x0, 1)"
print("ok")
"""
    )


def test_inputs_larger_than_memory_raise_memory_error():
    # 2**45 rows of 8 bytes is more than a 64-bit address space can map.
    check(
        DATA
        + """
import kvel
huge = 2**45
cases = [
    (np.broadcast_to(np.ones((1, 1)), (huge, 1)), np.broadcast_to(np.ones(1), (huge,))),
    (x, np.broadcast_to(np.ones(1), (huge,))),
]
d = kvel.Discoverer(max_epochs=2, max_depth=1)
for big_x, big_y in cases:
    try:
        d.fit(big_x, big_y)
    except MemoryError:
        pass
    else:
        raise AssertionError("no MemoryError")
assert d.fit(x, y).best().pretty == "eml(x0, 1)"
print("ok")
"""
    )
