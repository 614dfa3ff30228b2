#!/usr/bin/env bash
# Installs what building and testing kvel needs on a fresh Debian machine: the
# Debian packages, then the project's virtual environment $VENV (default .venv),
# made from $PYTHON (default python3), with the pinned Python packages in it.
# Idempotent, and quiet when everything is already there.
set -euo pipefail

# python3-dev and python3-venv: the headers the module builds against and the
# venv module of Debian's own Python. rustc compiles the generated Rust code
# in the C++ tests.
APT_PACKAGES=(cmake ninja-build g++ libxtensor-dev libopenblas-serial-dev libgtest-dev libbenchmark-dev
  python3-dev python3-venv rustc)
# The versions kvel is built and tested with (README.md says which).
PIP_PACKAGES=(scikit-build-core==1.1.2 numpy==2.4.6 pytest==9.2.0 sympy==1.14.0)
PYTHON=${PYTHON:-python3}
VENV=${VENV:-.venv}

missing=()
for pkg in "${APT_PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" && continue
  # These tools may come from elsewhere (pip, rustup, a distribution of their own).
  case "$pkg" in
    cmake | g++ | rustc) command -v "$pkg" >/dev/null || missing+=("$pkg") ;;
    ninja-build) command -v ninja >/dev/null || missing+=("$pkg") ;;
    *) missing+=("$pkg") ;;
  esac
done
# Whether this user may install Debian packages: as root ($SUDO empty), or
# through a sudo that lets them (without a password, or with one asked on
# this terminal).
may_install() {
  [ -z "$SUDO" ] && return 0
  command -v sudo >/dev/null || return 1
  sudo -n true 2>/dev/null && return 0
  [ -t 0 ] && sudo -v
}

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  # Without root or a usable sudo nothing can be installed: stop before
  # anything is made.
  if ! may_install; then
    {
      echo "setup: missing Debian packages: ${missing[*]}"
      echo "setup: run the same command again as root or with sudo, or first install them as root with:"
      echo "  apt-get update && apt-get install ${missing[*]}"
    } >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# The venv is kept while it runs, has pip, and was made from the same Python
# as $PYTHON; otherwise it is made anew from $PYTHON.
identity='import sys; print(sys.base_prefix, sys.version)'
want=$("$PYTHON" -c "$identity")
have=$("$VENV/bin/python" -c "import pip; $identity" 2>/dev/null || true)
if [ "$have" != "$want" ]; then
  echo "setup: making $VENV from $PYTHON"
  "$PYTHON" -m venv --clear "$VENV"
fi

if ! "$VENV/bin/python" - "${PIP_PACKAGES[@]}" <<'PY'
import sys
from importlib import metadata
for requirement in sys.argv[1:]:
    name, _, version = requirement.partition("==")
    try:
        if metadata.version(name) != version:
            sys.exit(1)
    except metadata.PackageNotFoundError:
        sys.exit(1)
PY
then
  echo "setup: installing ${PIP_PACKAGES[*]} into $VENV"
  "$VENV/bin/python" -m pip install -q --disable-pip-version-check "${PIP_PACKAGES[@]}"
fi
