"""Every front member reports the error of the formula it shows."""

import numpy as np
import pytest

import kvel


def members(result):
    return result.top(len(result))


def shown_mse(solution, x, y):
    f = eval(solution.numpy_code, {"np": np})
    with np.errstate(all="ignore"):
        pred = np.broadcast_to(np.asarray(f(*x.T), dtype=np.float64), y.shape)
    assert np.all(np.isfinite(pred)), solution.pretty
    return float(np.mean((pred - y) ** 2))


X_NEG = -np.linspace(0.5, 3.0, 50).reshape(-1, 1)
X_POS = np.linspace(0.5, 3.0, 50).reshape(-1, 1)


@pytest.mark.parametrize(
    "x, y",
    [
        # ln(b) of a negative b is NaN as shown, though the guard clips b.
        (X_NEG, np.log(np.abs(X_NEG[:, 0]))),
        # Large targets push fitted exponents past the guard's clip at 50.
        (X_POS, 1e6 * X_POS[:, 0]),
    ],
    ids=["negative x", "y = 1e6 x"],
)
def test_members_code_is_finite_and_reproduces_mse(x, y):
    result = kvel.Discoverer(max_epochs=100).fit(x, y)
    assert len(result) >= 1
    for s in members(result):
        assert shown_mse(s, x, y) == pytest.approx(s.mse, rel=1e-9, abs=1e-300), s.pretty
    best = result.best()
    assert shown_mse(best, x, y) == pytest.approx(best.mse, rel=1e-9, abs=1e-300)
