#!/usr/bin/env bash
# The Python binding against the library of this CI run: the package is
# installed with pip (offline, Debian's setuptools) into a temporary folder,
# and its pytest suite runs from that install, with the library and the
# command-line tool of build-test/ (only these two targets are brought up to
# date here).
# Then one quick pass of its benchmark, which checks that each peer gives
# the same results; speed is not judged here.
#   KELDO_BUILD_DIR  the build to take the library from (default: build-test)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${KELDO_BUILD_DIR:-$top/build-test}
python=/usr/bin/python3  # Debian's, with the packages of scripts/deps/python.txt

"$top/scripts/bootstrap" test python
# As scripts/test configures it; an existing build keeps its settings.
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELDO_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target keldo_crypto keldo-crypto
lib=$build/src/libkeldo_crypto.so.1
tool=$build/tools/keldo-crypto/keldo-crypto
[ -f "$lib" ] && [ -x "$tool" ] || { echo "65-python: $lib or $tool was not built" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export PYTHONDONTWRITEBYTECODE=1 PIP_ROOT_USER_ACTION=ignore PIP_DISABLE_PIP_VERSION_CHECK=1
# A copy, so the build leaves nothing in the clone.
cp -r "$top/bindings/python" "$work/src"
"$python" -m pip install -q --no-build-isolation --no-deps --no-index \
  --target "$work/site" "$work/src"

cd "$work"
# It ships py.typed: its annotations must hold.
"$python" -m mypy --strict --cache-dir=/dev/null --config-file "$work/src/pyproject.toml" "$work/src/keldo_crypto"
PYTHONPATH=$work/site KELDO_PYTHON_TEST_INSTALLED=1 \
  KELDO_CRYPTO_LIBRARY=$lib KELDO_CRYPTO_TOOL=$tool \
  "$python" -m pytest -q -p no:cacheprovider "$work/src/tests"
KELDO_CRYPTO_LIBRARY=$lib "$python" "$work/src/bench.py" --quick >"$work/bench.md"
echo "65-python: tests passed against $lib; quick benchmark:"
cat "$work/bench.md"
