"""A search under an address-space limit (RLIMIT_AS) a little above what the
process already holds: it returns a front or raises MemoryError, promptly,
and never brings the interpreter down."""

import pytest

from subprocess_util import run_python


@pytest.mark.parametrize("headroom_mib", [30, 40, 60, 100, 200])
def test_a_search_short_of_memory_raises_memory_error_or_succeeds(headroom_mib):
    done = run_python(
        f"""
import resource
import numpy as np
import kvel

rows = 100_000
x = np.linspace(0.5, 3.0, rows).reshape(-1, 1)
y = np.exp(x[:, 0]) + 2.0
d = kvel.Discoverer(max_depth=2, max_epochs=30)
with open("/proc/self/statm") as statm:
    held = int(statm.read().split()[0]) * resource.getpagesize()
resource.setrlimit(resource.RLIMIT_AS, (held + ({headroom_mib} << 20), resource.RLIM_INFINITY))
try:
    front = d.fit(x, y)
    outcome = "front" if len(front) > 0 else "empty"
except MemoryError:
    outcome = "MemoryError"
resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
assert kvel.Discoverer(max_depth=1, max_epochs=2).fit(x[:50], y[:50]).best() is not None
print(outcome)
""",
        timeout=60,
    )
    assert done.returncode == 0, done.stdout + done.stderr
    assert done.stdout.strip() in ("front", "MemoryError"), done.stdout + done.stderr
