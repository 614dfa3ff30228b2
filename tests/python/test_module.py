import kvel


def test_module_imports_with_its_doc():
    assert kvel.__doc__ == "The `kvel` Python extension module."
