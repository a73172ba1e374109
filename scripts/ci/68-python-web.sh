#!/usr/bin/env bash
# The Python web components with their frameworks installed (Debian's
# python3-fastapi, -flask, -djangorestframework and their servers): the
# package is installed with pip into a temporary folder as in 65-python, its
# annotations are checked against the frameworks' own (mypy --strict), then
# the web tests run from the install: the Authorization grammar, each
# framework's hooks, the request table over loopback HTTP (uvicorn,
# Werkzeug's server, Django's server) against FastAPI+PyJWT, Flask+PyJWT
# and DRF+simplejwt, the Django hasher's rows against Django's own. Last,
# one quick pass of bench_web.py (uvicorn and h2load on 127.0.0.1), which
# checks that the benchmark runs; speed is not judged here.
#   KELDO_BUILD_DIR  the build to take the library from (default: build-test)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${KELDO_BUILD_DIR:-$top/build-test}
python=/usr/bin/python3

"$top/scripts/bootstrap" test python python-web
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELDO_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target keldo_crypto
lib=$build/src/libkeldo_crypto.so.1
[ -f "$lib" ] || { echo "68-python-web: $lib was not built" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export PYTHONDONTWRITEBYTECODE=1 PIP_ROOT_USER_ACTION=ignore PIP_DISABLE_PIP_VERSION_CHECK=1
cp -r "$top/bindings/python" "$work/src"
"$python" -m pip install -q --no-build-isolation --no-deps --no-index \
  --target "$work/site" "$work/src"

cd "$work"
"$python" -m mypy --strict --cache-dir=/dev/null --config-file "$work/src/pyproject.toml" \
  "$work/src/keldo_crypto"
# The web tests must run here, not be skipped for a missing framework.
PYTHONPATH=$work/site KELDO_PYTHON_TEST_INSTALLED=1 KELDO_CRYPTO_LIBRARY=$lib \
  "$python" -m pytest -q -p no:cacheprovider -rs \
  "$work/src/tests/test_web.py" "$work/src/tests/test_web_http.py" "$work/src/tests/test_django.py" \
  | tee "$work/pytest.log"
if grep -q "skipped" "$work/pytest.log"; then
  echo "68-python-web: web tests were skipped" >&2; exit 1
fi
KELDO_CRYPTO_LIBRARY=$lib "$python" "$work/src/bench_web.py" --quick >"$work/bench.md"
echo "68-python-web: web tests passed against $lib; quick benchmark:"
cat "$work/bench.md"
