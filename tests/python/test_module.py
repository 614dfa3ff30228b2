import math
import os
import re
import threading

import numpy as np
import pytest

import kvel
import libm
from subprocess_util import run_python


def grid(n=40):
    return np.linspace(0.5, 3.0, n).reshape(-1, 1)


@pytest.fixture(scope="module")
def exp_result():
    x = grid()
    return kvel.Discoverer(max_epochs=20).fit(x, libm.exp(x[:, 0]))


def test_module_surface():
    assert kvel.__doc__ == "The `kvel` Python extension module."
    assert kvel.__all__ == ["Discoverer", "DiscoveryResult", "Solution"]
    assert kvel.Discoverer.__text_signature__.startswith("(population=256, max_depth=3,")
    assert kvel.Discoverer.__doc__.startswith("Differentiable symbolic discovery driver.")
    assert kvel.Discoverer.fit.__text_signature__ == "($self, x, y)"
    assert kvel.DiscoveryResult.top.__text_signature__ == "($self, k)"
    assert kvel.DiscoveryResult.best.__text_signature__ == "($self)"
    assert kvel.Solution.mse.__doc__ == "Mean squared error of the expression on the training data."
    assert kvel.Solution.__module__ == "builtins"


@pytest.mark.parametrize(
    "kwargs, error, name",
    [
        (dict(max_epochs=-1), OverflowError, "max_epochs"),
        (dict(seed=2**64), OverflowError, "seed"),
        (dict(population=1.5), TypeError, "population"),
        (dict(learning_rate=None), TypeError, "learning_rate"),
        (dict(top_k="3"), TypeError, "top_k"),
    ],
)
def test_constructor_conversion_errors_name_the_argument(kwargs, error, name):
    with pytest.raises(error) as info:
        kvel.Discoverer(**kwargs)
    assert info.value.__notes__ == [f"while processing '{name}'"]


def test_constructor_accepts_what_converts():
    kvel.Discoverer(learning_rate=1, seed=2**64 - 1, max_depth=0, lambda_sparsity=-math.inf)
    with pytest.raises(TypeError):
        kvel.Discoverer(bogus=1)
    with pytest.raises(TypeError):
        kvel.Discoverer(1, 2, 3, 0.1, 0, 5, 0.0, 0.0, 0.0, 99)


@pytest.mark.parametrize(
    "x, y, name",
    [
        (grid().astype(np.float32), np.ones(40), "x"),
        (grid().tolist(), np.ones(40), "x"),
        (grid()[:, 0], np.ones(40), "x"),
        (grid(), np.ones((40, 1)), "y"),
        (grid(), np.ones(40, dtype=np.int64), "y"),
    ],
)
def test_fit_argument_errors_name_the_argument(x, y, name):
    with pytest.raises(TypeError) as info:
        kvel.Discoverer().fit(x, y)
    assert info.value.__notes__ == [f"while processing '{name}'"]


X, Y = grid(), np.ones(40)
FIT, NEW = "Discoverer.fit()", "Discoverer.__new__()"


def fit(*args, **kwargs):
    return kvel.Discoverer().fit(*args, **kwargs)


def small_result():
    return kvel.Discoverer(max_depth=1, max_epochs=0).fit(X[:5], np.exp(X[:5, 0]))


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: fit(X=X, y=Y), f"{FIT} got an unexpected keyword argument 'X'"),
        (lambda: fit(X, Y, z=1), f"{FIT} got an unexpected keyword argument 'z'"),
        (lambda: fit(X, y=Y, **{"\u00e9t\u00e9": 1}), f"{FIT} got an unexpected keyword argument '\u00e9t\u00e9'"),
        (lambda: fit(X, x=X, y=Y), f"{FIT} got multiple values for argument 'x'"),
        (lambda: fit(), f"{FIT} missing 2 required positional arguments: 'x' and 'y'"),
        (lambda: fit(X), f"{FIT} missing 1 required positional argument: 'y'"),
        (lambda: fit(y=Y), f"{FIT} missing 1 required positional argument: 'x'"),
        (lambda: fit(X, Y, X), f"{FIT} takes 2 positional arguments but 3 were given"),
        # Too many positional arguments first, then each keyword in the order
        # given, then the missing ones; all before any conversion.
        (lambda: fit(X, Y, X, bogus=1), f"{FIT} takes 2 positional arguments but 3 were given"),
        (lambda: fit(X, bogus=1, x=X), f"{FIT} got an unexpected keyword argument 'bogus'"),
        (lambda: fit(X, x=X, bogus=1), f"{FIT} got multiple values for argument 'x'"),
        (lambda: fit(bogus=1), f"{FIT} got an unexpected keyword argument 'bogus'"),
        (lambda: fit([1], [2], [3]), f"{FIT} takes 2 positional arguments but 3 were given"),
        (lambda: kvel.Discoverer(*range(10)), f"{NEW} takes from 0 to 9 positional arguments but 10 were given"),
        (lambda: kvel.Discoverer(bogus=1), f"{NEW} got an unexpected keyword argument 'bogus'"),
        (lambda: kvel.Discoverer(max_epochs=-1, bogus=1), f"{NEW} got an unexpected keyword argument 'bogus'"),
        (lambda: kvel.Discoverer(256, population=1), f"{NEW} got multiple values for argument 'population'"),
        (
            lambda: kvel.Discoverer(*range(9), lambda_parsimony=0.0),
            f"{NEW} got multiple values for argument 'lambda_parsimony'",
        ),
        (lambda: small_result().top(1, k=1), "DiscoveryResult.top() got multiple values for argument 'k'"),
        (lambda: small_result().top_latex(n=1), "DiscoveryResult.top_latex() got an unexpected keyword argument 'n'"),
        (lambda: small_result().top_sympy(), "DiscoveryResult.top_sympy() missing 1 required positional argument: 'k'"),
        (lambda: small_result().top(1, 2), "DiscoveryResult.top() takes 1 positional argument but 2 were given"),
    ],
)
def test_bad_count_or_name_of_arguments(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message
    assert not hasattr(info.value, "__notes__")


def test_a_keyword_that_is_not_a_str_is_a_type_error():
    # Python itself passes only str keywords; the C API lets a caller pass any.
    import ctypes

    call = ctypes.PYFUNCTYPE(ctypes.py_object, ctypes.py_object, ctypes.py_object, ctypes.py_object)(
        ("PyObject_Call", ctypes.pythonapi)
    )
    for function, args, name in [(kvel.Discoverer, (), NEW), (kvel.Discoverer().fit, (X, Y), FIT)]:
        with pytest.raises(TypeError) as info:
            call(function, args, {1: 2})
        assert str(info.value) == f"{name} keywords must be strings"


def every_dtype():
    """Every dtype NumPy offers, in every byte order it takes, float64 left out."""
    kinds = [np.dtype(code) for code in np.typecodes["All"]]
    units = ["Y", "M", "W", "D", "h", "m", "s", "ms", "us", "ns", "ps", "fs", "as", "25s"]
    kinds += [np.dtype(f"{kind}8[{unit}]") for kind in "Mm" for unit in units]
    kinds += [np.dtype([("t", "M8[s]")]), np.dtype([("v", "f8")]), np.dtype([("g", "g")])]
    string_dtype = getattr(getattr(np, "dtypes", None), "StringDType", None)
    if string_dtype is not None:
        kinds += [string_dtype(), string_dtype(na_object=None)]
    found = {}
    for kind in kinds:
        found.setdefault(repr(kind), kind)
        for order in "<>=|":
            try:
                dtype = kind.newbyteorder(order)
            except (TypeError, ValueError):
                continue
            found.setdefault(repr(dtype), dtype)
    return [dtype for dtype in found.values() if dtype != np.float64]


# NumPy exports no buffer for some of them (datetime64, timedelta64,
# StringDType, long double in an explicit byte order); every one of them is
# the same TypeError as any other wrong dtype or dimension count.
@pytest.mark.parametrize("dtype", every_dtype(), ids=repr)
def test_every_other_dtype_is_a_type_error_naming_the_argument(dtype):
    discoverer = kvel.Discoverer()
    for name, ndim in (("x", 2), ("y", 1)):
        for shape in ((40, 1)[:ndim], (40, 1)[: 3 - ndim]):
            wrong = np.zeros(shape, dtype)
            args = {"x": X, "y": Y, name: wrong}
            with pytest.raises(TypeError) as info:
                discoverer.fit(**args)
            if wrong.ndim == ndim:
                assert str(info.value) == f"type mismatch:\n from={wrong.dtype}, to=float64"
            else:
                assert str(info.value) == f"dimensionality mismatch:\n from={wrong.ndim}, to={ndim}"
            assert info.value.__notes__ == [f"while processing '{name}'"]


def test_fit_value_errors():
    with pytest.raises(ValueError, match=r"^shape mismatch: x has 5 rows but y has 4 entries$"):
        kvel.Discoverer().fit(np.ones((5, 1)), np.ones(4))
    with pytest.raises(ValueError, match=r"^shape mismatch: empty dataset$"):
        kvel.Discoverer().fit(np.ones((0, 1)), np.ones(0))


def test_result_classes_cannot_be_created():
    for cls in (kvel.Solution, kvel.DiscoveryResult):
        with pytest.raises(TypeError, match=rf"^cannot create 'builtins.{cls.__name__}' instances$"):
            cls()


def test_result_accessors(exp_result):
    n = len(exp_result)
    assert n >= 1
    assert exp_result.top(0) == [] and exp_result.top_latex(0) == [] and exp_result.top_sympy(0) == []
    top = exp_result.top(100)
    assert len(top) == n
    assert [s.mse for s in top] == sorted(s.mse for s in top)
    assert exp_result.best().mse == min(s.mse for s in top)
    with pytest.raises(OverflowError) as info:
        exp_result.top(-1)
    assert info.value.__notes__ == ["while processing 'k'"]


def test_solution_repr_parses_back(exp_result):
    for s in exp_result.top(100):
        m = re.fullmatch(r'Solution\(pretty="([^"]*)", mse=([^,]+), complexity=(\d+)\)', repr(s))
        assert m, repr(s)
        assert m.group(1) == s.pretty
        assert float(m.group(2)) == s.mse
        assert int(m.group(3)) == s.complexity
        assert "e" not in m.group(2).lower() or m.group(2) in ("inf", "-inf")


def test_layout_of_x_does_not_matter():
    rng = np.random.default_rng(0)
    x = rng.uniform(0.5, 2.0, size=(2, 30)).T  # transposed: not C-contiguous
    y = np.exp(x[:, 0]) - np.log(x[:, 1])
    d = kvel.Discoverer(max_epochs=5, max_depth=1)
    a = [repr(s) for s in d.fit(x, y).top(100)]
    b = [repr(s) for s in d.fit(np.ascontiguousarray(x), y).top(100)]
    c = [repr(s) for s in d.fit(np.asfortranarray(x), y).top(100)]
    assert a == b == c


def test_two_threads_match_sequential_runs():
    x = grid(30)
    ys = [np.exp(x[:, 0]), np.exp(x[:, 0]) - np.log(x[:, 0])]
    d = kvel.Discoverer(max_epochs=5, max_depth=2)
    sequential = [[repr(s) for s in d.fit(x, y).top(100)] for y in ys]
    parallel = [None, None]

    def run(i):
        parallel[i] = [repr(s) for s in d.fit(x, ys[i]).top(100)]

    threads = [threading.Thread(target=run, args=(i,)) for i in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert parallel == sequential


def test_exp_is_recovered_exactly(exp_result):
    best = exp_result.best()
    assert best.mse == 0.0
    assert best.latex == "e^{x_{0}}"
    assert best.pretty == "eml(x0, 1)"


def test_numpy_code_of_every_member_reproduces_its_mse():
    # Inside the domain where the guarded eml equals the plain one.
    x = grid(60)
    y = np.exp(x[:, 0]) - np.log(x[:, 0]) + 0.25 * x[:, 0]
    result = kvel.Discoverer(max_epochs=5).fit(x, y)
    for s in result.top(len(result)):
        f = eval(s.numpy_code, {"np": np})
        with np.errstate(all="ignore"):
            pred = np.broadcast_to(f(x[:, 0]), y.shape)
        mse = float(np.mean((pred - y) ** 2))
        assert mse == pytest.approx(s.mse, rel=1e-9, abs=1e-12), s.pretty


def test_sympy_code_of_the_best_member_matches_numerically(exp_result):
    import sympy

    header, expr = exp_result.best().sympy_code.split("\n")
    assert header == "# symbols('x0')"
    x0 = sympy.symbols("x0")
    value = sympy.sympify(expr, locals={"x0": x0}).subs(x0, 1.25)
    assert float(value) == pytest.approx(math.exp(1.25), rel=1e-12)


def test_wide_data_completes():
    # 30 columns: the full depth-3 enumeration would not fit in memory.
    rng = np.random.default_rng(1)
    x = rng.uniform(0.5, 2.0, size=(20, 30))
    result = kvel.Discoverer(max_epochs=2).fit(x, libm.exp(x[:, 3]))
    assert result.best().mse == 0.0
    assert result.best().pretty == "eml(x3, 1)"


# A C caller may pass a keyword dict of its own, which a conversion (an
# __index__, a __float__) can clear: the values still to be converted must
# stay alive. With the system allocator a value read after it was freed
# fails at once.
KEYWORDS_CLEARED_WHILE_CONVERTED = """
import ctypes
import numpy as np
import kvel

call = ctypes.PYFUNCTYPE(ctypes.py_object, ctypes.py_object, ctypes.py_object, ctypes.py_object)(
    ("PyObject_Call", ctypes.pythonapi)
)
NAMES = ["population", "max_depth", "max_epochs", "learning_rate", "seed", "top_k",
         "lambda_complexity", "lambda_sparsity", "lambda_parsimony"]
FLOATS = {"learning_rate", "lambda_complexity", "lambda_sparsity", "lambda_parsimony"}


class Number:
    # Converts to `value`; the first conversion of one made with `clears`
    # empties that dict, dropping its references to the other values.
    def __init__(self, value, clears=None):
        self.value, self.clears = value, clears

    def convert(self):
        if self.clears is not None:
            self.clears.clear()
        return self.value

    def __index__(self):
        return self.convert()

    def __float__(self):
        return float(self.convert())


def settings(clearing, later):
    kw = {}
    for i, name in enumerate(NAMES):
        if i >= clearing:
            value = 0.01 if name in FLOATS else (1 if name != "max_epochs" else 0)
            kw[name] = Number(value, kw if i == clearing else None)
    kw.update(later)
    return kw


x = np.linspace(0.5, 3.0, 8).reshape(-1, 1)
y = np.exp(x[:, 0])
for round in range(3):
    for clearing in range(len(NAMES)):
        kw = settings(clearing, {})
        d = call(kvel.Discoverer, (), kw)
        assert kw == {}
        assert d.fit(x, y).best() is not None
    # A later value converted after the dict let it go still says what it is.
    for clearing, name in [(0, "max_depth"), (0, "seed"), (3, "lambda_parsimony"), (7, "lambda_parsimony")]:
        kw = settings(clearing, {name: Number(-1) if name not in FLOATS else Number("not a float")})
        try:
            call(kvel.Discoverer, (), kw)
            raise AssertionError("no error for " + name)
        except (OverflowError, TypeError, ValueError) as error:
            assert error.__notes__ == [f"while processing '{name}'"], (name, error.__notes__)
    result = kvel.Discoverer(max_depth=1, max_epochs=0).fit(x, y)
    for method in (result.top, result.top_latex, result.top_sympy):
        kw = {}
        kw["k"] = Number(2, kw)
        assert len(call(method, (), kw)) >= 1
    kw = {"x": x.copy(), "y": y.copy()}
    assert call(kvel.Discoverer(max_depth=1, max_epochs=0).fit, (), kw).best() is not None
print("ok")
"""


def test_values_outlive_a_keyword_dict_cleared_while_they_are_converted():
    done = run_python(KEYWORDS_CLEARED_WHILE_CONVERTED, timeout=120, env={**os.environ, "PYTHONMALLOC": "malloc"})
    assert done.returncode == 0, done.stdout + done.stderr
    assert done.stdout.strip() == "ok", done.stdout + done.stderr
