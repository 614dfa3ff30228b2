"""The module starts no threads of its own beyond refinement's, which end
with the search: importing it and running a fit leave the process's thread
count as it was."""

from subprocess_util import run_python


def test_import_and_fit_leave_the_thread_count_as_it_was():
    done = run_python(
        """
import ctypes
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


# The BLAS the extension's own dependency resolves to, whatever NumPy maps
# beside it (NumPy 1.x wheels bring an OpenBLAS of their own).
class DlInfo(ctypes.Structure):
    _fields_ = [("fname", ctypes.c_char_p), ("fbase", ctypes.c_void_p),
                ("sname", ctypes.c_char_p), ("saddr", ctypes.c_void_p)]


dladdr = ctypes.CDLL("libdl.so.2").dladdr
dladdr.argtypes = [ctypes.c_void_p, ctypes.POINTER(DlInfo)]
gemm = ctypes.cast(ctypes.CDLL(kvel.__file__).cblas_dgemm, ctypes.c_void_p)
info = DlInfo()
assert dladdr(gemm, ctypes.byref(info)) != 0
blas = os.path.realpath(info.fname.decode())
assert "openblas-serial" in blas, blas
print("ok")
"""
    )
    assert done.returncode == 0, done.stdout + done.stderr
    assert done.stdout.strip() == "ok", done.stdout + done.stderr
