"""scripts/setup.sh run by a user who is neither root nor has a usable sudo
(none at all, or one that refuses): with Debian packages missing it stops
before it changes anything and says what to install and how; with none
missing it goes on past the package check."""

import os
import shutil
import subprocess
import tempfile
from pathlib import Path

import pytest

SETUP_SH = Path(__file__).resolve().parents[2] / "scripts" / "setup.sh"
NOBODY = 65534
# dpkg-query stand-ins: every package unknown, or every package installed.
DPKG_NONE = "#!/bin/sh\nexit 1\n"
DPKG_ALL = "#!/bin/sh\nprintf 'install ok installed'\n"
# A sudo that refuses: no rights, or a password and no terminal to ask it on.
SUDO_REFUSES = "#!/bin/sh\necho 'sudo: a password is required' >&2\nexit 1\n"


def reachable_by_others(path):
    return all(folder.stat().st_mode & 0o001 for folder in (path, *path.parents))


def unprivileged_prefix():
    """The command prefix that runs a program as a user other than root."""
    if os.geteuid() != 0:
        return []
    setpriv = shutil.which("setpriv")
    if setpriv is None:
        pytest.skip("running as root and setpriv (util-linux) is missing")
    prefix = [setpriv, f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups"]
    probe = subprocess.run([*prefix, "/bin/sh", "-c", "id -u"], capture_output=True, text=True, timeout=30)
    if probe.returncode != 0 or probe.stdout.strip() != str(NOBODY):
        pytest.skip(f"cannot drop to uid {NOBODY} with setpriv: {probe.stderr.strip()}")
    return prefix


@pytest.fixture
def place():
    """A temporary folder the unprivileged user can read, with a folder
    `work` of its own it can write in."""
    parent = Path(tempfile.gettempdir())
    if os.geteuid() == 0 and not reachable_by_others(parent):
        # $TMPDIR lies in a folder the unprivileged user cannot enter.
        parent = Path("/tmp")
        if not (parent.is_dir() and reachable_by_others(parent)):
            pytest.skip(f"no temporary folder that uid {NOBODY} can enter")
    with tempfile.TemporaryDirectory(dir=parent) as name:
        root = Path(name)
        root.chmod(0o755)
        (root / "work").mkdir()
        if os.geteuid() == 0:
            os.chown(root / "work", NOBODY, NOBODY)
        yield root


def run_setup(place, dpkg_query, python, sudo=None):
    """Runs a copy of setup.sh unprivileged, with `dpkg_query` as the stand-in
    dpkg-query and a PATH that holds only it, the stand-in `sudo` when given,
    and the few tools the package check uses (so no other sudo, whatever this
    machine has)."""
    bin_dir = place / "bin"
    bin_dir.mkdir()
    stand_ins = {"dpkg-query": dpkg_query}
    if sudo is not None:
        stand_ins["sudo"] = sudo
    for name, text in stand_ins.items():
        (bin_dir / name).write_text(text)
        (bin_dir / name).chmod(0o755)
    for tool in ("grep", "id"):
        (bin_dir / tool).symlink_to(shutil.which(tool))
    script = place / "setup.sh"
    shutil.copy(SETUP_SH, script)
    script.chmod(0o755)
    work = place / "work"
    env = {"PATH": str(bin_dir), "HOME": str(work), "LC_ALL": "C", "VENV": str(work / "venv"), "PYTHON": python}
    return subprocess.run(
        [*unprivileged_prefix(), shutil.which("bash"), str(script)],
        cwd=work,
        env=env,
        stdin=subprocess.DEVNULL,
        capture_output=True,
        text=True,
        timeout=120,
    )


def system_python():
    return shutil.which("python3", path="/usr/bin:/bin") or pytest.skip("no system python3 in /usr/bin or /bin")


@pytest.mark.parametrize("sudo", [None, SUDO_REFUSES], ids=["no sudo", "sudo refuses"])
def test_missing_packages_without_root_or_sudo_stop_before_anything_is_made(place, sudo):
    done = run_setup(place, DPKG_NONE, system_python(), sudo=sudo)
    assert done.returncode != 0, done.stdout + done.stderr
    message = done.stderr
    assert "command not found" not in message, message
    # Those with no stand-in on PATH to accept instead of the package.
    for package in ("libxtensor-dev", "libopenblas-serial-dev", "libgtest-dev", "python3-dev", "python3-venv"):
        assert package in message, message
    command = "apt-get update && apt-get install "
    install_lines = [line.strip() for line in message.splitlines() if line.strip().startswith(command)]
    assert len(install_lines) == 1, message
    assert {"libxtensor-dev", "python3-venv"} <= set(install_lines[0][len(command):].split()), message
    assert "root" in message and "sudo" in message, message
    assert not (place / "work" / "venv").exists()
    assert "installing" not in done.stdout, done.stdout
    assert "password is required" not in message, message


def test_nothing_missing_without_root_or_sudo_gets_past_the_package_check(place):
    # A Python that is not there makes the run fail just after the package
    # check, where it first runs $PYTHON, before anything is made or fetched.
    absent_python = str(place / "no-python")
    done = run_setup(place, DPKG_ALL, absent_python)
    output = done.stdout + done.stderr
    assert "sudo" not in output and "root" not in output, output
    assert "apt-get" not in output, output
    assert absent_python in done.stderr, output
    assert not (place / "work" / "venv").exists()
