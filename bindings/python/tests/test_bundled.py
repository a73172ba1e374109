"""The library a platform wheel carries in keldo_crypto/_libs/ comes before
KELDO_CRYPTO_LIBRARY, the package's folder and the system loader; a path
given to load_library() comes before it."""

import os
import shutil
import subprocess
import sys

import pytest

import keldo_crypto as kc

PACKAGE = os.path.dirname(kc.__file__)
REPORT = "import keldo_crypto as k; print(k.load_library()); print(k.sha256(b'abc').hex()[:8])"


@pytest.fixture
def bundled_copy(tmp_path, library):
    """A copy of the package with the suite's library in _libs/."""
    dest = tmp_path / "keldo_crypto"
    shutil.copytree(PACKAGE, dest, ignore=shutil.ignore_patterns(
        "libkeldo_crypto*", "keldo_crypto.dll", "libyyjson*", "__pycache__"))
    (dest / "_libs").mkdir(exist_ok=True)
    shutil.copy(library, dest / "_libs" / "libkeldo_crypto.so.1")
    return tmp_path


def run(code, cwd, env, *args):
    clean = {k: v for k, v in os.environ.items() if k not in ("KELDO_CRYPTO_LIBRARY", "PYTHONPATH")}
    return subprocess.run([sys.executable, "-c", code, *args], cwd=cwd, env={**clean, **env},
                          capture_output=True, text=True, timeout=60)


@pytest.mark.parametrize("env", [
    {},
    {"KELDO_CRYPTO_LIBRARY": "/nonexistent/libkeldo_crypto.so"},
], ids=["alone", "before KELDO_CRYPTO_LIBRARY"])
def test_bundled_library_comes_first(bundled_copy, env):
    r = run(REPORT, bundled_copy, env)
    assert r.returncode == 0, r.stderr
    assert r.stdout.split() == [str(bundled_copy / "keldo_crypto" / "_libs" / "libkeldo_crypto.so.1"),
                                "ba7816bf"]


def test_explicit_path_comes_before_the_bundled_library(bundled_copy, library):
    code = "import keldo_crypto as k, sys; print(k.load_library(sys.argv[1]))"
    r = run(code, bundled_copy, {}, library)
    assert r.returncode == 0, r.stderr
    assert r.stdout.split() == [library]
