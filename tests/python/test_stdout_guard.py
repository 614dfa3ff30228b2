import os
import sys
import threading

import numpy as np

import kvel


def test_output_after_concurrent_fits_is_still_captured(capfd):
    x = np.linspace(0.5, 3.0, 30).reshape(-1, 1)
    y = np.exp(x[:, 0]) + 0.5
    errors = []

    def run():
        try:
            kvel.Discoverer(max_epochs=30).fit(x, y)
        except Exception as e:  # pragma: no cover - reported below
            errors.append(e)

    threads = [threading.Thread(target=run) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []

    print("printed after the fits")
    sys.stdout.flush()
    os.write(1, b"written to fd 1 after the fits\n")
    out = capfd.readouterr().out
    assert "printed after the fits" in out
    assert "written to fd 1 after the fits" in out
