"""The module in the life of an interpreter: re-import, sub-interpreters, a
NumPy that cannot be imported, inputs that do not fit in memory. Each case
runs in its own interpreter and must also shut down cleanly."""

import sys

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


# Sub-interpreters through the interpreter's private module, which changed
# with each version: run(code, isolated) runs `code` in a new interpreter and
# returns the text of the exception it raised, or None. Before 3.12 every
# sub-interpreter shares the main interpreter's lock.
SUB_INTERPRETERS = """
import sys
if sys.version_info >= (3, 13):
    import _interpreters as interpreters
else:
    import _xxsubinterpreters as interpreters

def run(code, isolated):
    if sys.version_info >= (3, 13):
        i = interpreters.create("isolated" if isolated else "legacy")
    elif sys.version_info >= (3, 12):
        i = interpreters.create(isolated=isolated)
    else:
        assert not isolated, "no isolated interpreters before 3.12"
        i = interpreters.create()
    try:
        failure = interpreters.run_string(i, code)
        if failure is not None:
            failure = failure.formatted
    except Exception as e:
        failure = str(e)
    interpreters.destroy(i)
    return failure
"""

# kvel imports and fits in a sub-interpreter. NumPy 2 loads in one
# interpreter per process only; where it cannot be imported, a fit says so
# with an ImportError.
FIT_INSIDE = """
import kvel
d = kvel.Discoverer(max_epochs=2, max_depth=1)
try:
    import numpy as np
except ImportError:
    try:
        d.fit(None, None)
    except ImportError:
        pass
    else:
        raise AssertionError("a fit without NumPy raised no ImportError")
else:
    x = np.linspace(0.5, 3.0, 20).reshape(-1, 1)
    r = d.fit(x, np.exp(x[:, 0]))
    assert isinstance(r, kvel.DiscoveryResult) and r.best().pretty == "eml(x0, 1)"
"""


def test_a_legacy_sub_interpreter_imports_kvel_and_fits():
    check(
        DATA
        + SUB_INTERPRETERS
        + f"""
import kvel
for _ in range(2):
    failure = run({FIT_INSIDE!r}, isolated=False)
    assert failure is None, failure
r = kvel.Discoverer(max_epochs=2, max_depth=1).fit(x, y)
assert isinstance(r, kvel.DiscoveryResult) and isinstance(r.best(), kvel.Solution)
print("ok")
"""
    )


@pytest.mark.skipif(sys.version_info < (3, 12), reason="isolated sub-interpreters arrived in Python 3.12")
def test_an_isolated_sub_interpreter_gets_a_clear_import_error():
    check(
        DATA
        + SUB_INTERPRETERS
        + """
import kvel
failure = run("import kvel", isolated=True)
assert failure is not None and "ImportError" in failure, failure
assert "kvel does not support loading in subinterpreters" in failure, failure
r = kvel.Discoverer(max_epochs=2, max_depth=1).fit(x, y)
assert r.best().pretty == "eml(x0, 1)"
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
