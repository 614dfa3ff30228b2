"""Data sets whose fronts are pinned in front_snapshots.json.

Every target is computed with the C library's functions (libm) and every
input by plain arithmetic, so the data are the same on every CPU.
"""

import math

import numpy as np

import libm


def _grid(lo, hi, rows):
    return np.linspace(lo, hi, rows).reshape(-1, 1)


def _uniform(seed, rows, cols, lo, hi):
    return np.random.default_rng(seed).uniform(lo, hi, size=(rows, cols))


def cases():
    """name -> (x, y, Discoverer keyword arguments)."""
    x1 = _grid(0.5, 3.0, 60)
    x2 = _uniform(3, 50, 2, 0.5, 2.0)
    x3 = _uniform(4, 40, 3, 0.5, 2.5)
    neg = -_grid(0.5, 3.0, 50)
    return {
        "exp(x0) + 2": (x1, libm.exp(x1[:, 0]) + 2.0, dict(max_epochs=150)),
        "sin(x0)": (x1, np.array([math.sin(v) for v in x1[:, 0]]), dict(max_epochs=150)),
        "exp(x0) - ln(x1)": (x2, libm.exp(x2[:, 0]) - libm.log(x2[:, 1]), dict(max_epochs=100)),
        "x0 x1 + x2": (x3, x3[:, 0] * x3[:, 1] + x3[:, 2], dict(max_epochs=60, max_depth=2)),
        "ln|x| on negative x": (neg, libm.log(-neg[:, 0]), dict(max_epochs=100)),
        "1e6 x": (x1, 1e6 * x1[:, 0], dict(max_epochs=100)),
    }


def front_record(result):
    return [[s.pretty, s.mse.hex(), s.complexity, s.numpy_code] for s in result.top(len(result))]


def snapshot(kvel):
    return {name: front_record(kvel.Discoverer(**kw).fit(x, y)) for name, (x, y, kw) in cases().items()}


if __name__ == "__main__":
    import json
    import sys

    import kvel

    json.dump(snapshot(kvel), sys.stdout, indent=1)
    sys.stdout.write("\n")
