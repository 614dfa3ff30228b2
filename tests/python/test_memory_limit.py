"""A search under an address-space limit (RLIMIT_AS) a little above what the
process already holds: it returns a front or raises MemoryError, promptly,
and never brings the interpreter down; where one thread gives a front, so
does the default number of threads."""

import subprocess
import sys

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


SHORT_OF_ADDRESS_SPACE = """
import os
import resource
import sys
import numpy as np
import kvel

headroom_mib, one_cpu = int(sys.argv[1]), sys.argv[2] == "one"
if one_cpu:
    os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})
x = np.linspace(0.5, 3.0, 20_000).reshape(-1, 1)
y = np.exp(x[:, 0]) + 2.0
d = kvel.Discoverer(max_depth=2, max_epochs=30)
with open("/proc/self/statm") as statm:
    held = int(statm.read().split()[0]) * resource.getpagesize()
resource.setrlimit(resource.RLIMIT_AS, (held + (headroom_mib << 20), resource.RLIM_INFINITY))
try:
    print(" ".join(f"{s.pretty}:{s.mse!r}" for s in d.fit(x, y).top(100)))
except MemoryError:
    print("MemoryError")
"""


# From about 180 MiB on, the headroom holds a second thread and its
# reservation, and a search on two CPUs runs two.
@pytest.mark.parametrize("headroom_mib", [60, 80, 100, 120, 140, 180, 240])
def test_where_one_thread_fits_under_an_address_space_limit_the_default_does_too(headroom_mib):
    # Every thread beyond the first reserves address space of its own (its
    # stack, its malloc arena), which the limit counts: the search runs no
    # more threads than the headroom holds, and gives the one-thread front.
    def run(cpus):
        done = subprocess.run(
            [sys.executable, "-c", SHORT_OF_ADDRESS_SPACE, str(headroom_mib), cpus],
            capture_output=True,
            text=True,
            timeout=60,
        )
        assert done.returncode == 0, done.stdout + done.stderr
        return done.stdout.strip()

    alone = run("one")
    if alone == "MemoryError":
        pytest.skip("too little headroom for one thread here")
    for _ in range(3):
        assert run("all") == alone
