"""A small end-to-end search: recover y = exp(x0) - ln(x0) from samples."""

import math

import numpy as np

import kvel

x = np.linspace(0.5, 3.0, 200).reshape(-1, 1)
# The C library's exp and log, which kvel uses too: the formula found then
# reproduces y exactly. (NumPy's own SIMD exp and log may differ from them in
# the last place on some CPUs.)
y = np.array([math.exp(v) - math.log(v) for v in x[:, 0]])

result = kvel.Discoverer().fit(x, y)
print(f"Pareto front: {len(result)} solutions (best error first)")
for s in result.top(len(result)):
    print(f"  mse={s.mse:<12.6g} complexity={s.complexity:<3} latex={s.latex}")
    print(f"      numpy: {s.numpy_code}")
best = result.best()
print("best:", repr(best))
