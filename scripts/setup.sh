#!/usr/bin/env bash
# Installs what building and testing kvel needs on a fresh Debian machine.
# Idempotent, and quiet when everything is already there.
set -euo pipefail

APT_PACKAGES=(cmake ninja-build g++ libxtensor-dev libopenblas-serial-dev libgtest-dev libbenchmark-dev)
PIP_PACKAGES=("scikit-build-core>=0.10" numpy pytest sympy)

missing=()
for pkg in "${APT_PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
# cmake and ninja may come from pip instead of Debian.
filtered=()
for pkg in "${missing[@]}"; do
  case "$pkg" in
    cmake) command -v cmake >/dev/null || filtered+=("$pkg") ;;
    ninja-build) command -v ninja >/dev/null || filtered+=("$pkg") ;;
    g++) command -v g++ >/dev/null || filtered+=("$pkg") ;;
    *) filtered+=("$pkg") ;;
  esac
done
if [ ${#filtered[@]} -gt 0 ]; then
  echo "setup: installing ${filtered[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${filtered[@]}" >/dev/null
fi

PYTHON=${PYTHON:-python3}
if ! "$PYTHON" - "${PIP_PACKAGES[@]}" <<'PY'
import sys
from importlib import metadata
import re
def version_tuple(v):
    return tuple(int(p) for p in re.findall(r"\d+", v)[:3])
for requirement in sys.argv[1:]:
    name, _, minimum = requirement.partition(">=")
    try:
        have = metadata.version(name)
    except metadata.PackageNotFoundError:
        sys.exit(1)
    if minimum and version_tuple(have) < version_tuple(minimum):
        sys.exit(1)
PY
then
  echo "setup: installing Python packages"
  PIP_ROOT_USER_ACTION=ignore "$PYTHON" -m pip install -q "${PIP_PACKAGES[@]}"
fi
