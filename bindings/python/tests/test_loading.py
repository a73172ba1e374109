"""Where the library is looked for: the path given, KELDO_CRYPTO_LIBRARY,
the package's folder, then the system loader."""

import ctypes.util
import os
import shutil
import subprocess
import sys

import pytest

import keldo_crypto as kc

PACKAGE = os.path.dirname(kc.__file__)


def run(code: str, env: dict, cwd) -> subprocess.CompletedProcess:
    clean = {k: v for k, v in os.environ.items()
             if k not in ("KELDO_CRYPTO_LIBRARY", "LD_LIBRARY_PATH", "PYTHONPATH")}
    clean.update(env)
    return subprocess.run([sys.executable, "-c", code], env=clean, cwd=cwd,
                          capture_output=True, text=True, timeout=60)


@pytest.fixture
def package_copy(tmp_path):
    """A copy of the package alone, without a library next to it."""
    dest = tmp_path / "keldo_crypto"
    shutil.copytree(PACKAGE, dest, ignore=shutil.ignore_patterns("*.so*", "*.dll", "*.dylib",
                                                                 "__pycache__"))
    return tmp_path


REPORT = "import keldo_crypto as k; print(k.load_library()); print(k.sha256(b'abc').hex()[:8])"
FAIL = ("import keldo_crypto as k\n"
        "try:\n    k.sha256(b'')\n"
        "except k.LibraryNotFound as e:\n    assert isinstance(e, OSError); print(e)\n")


def test_environment_variable(package_copy, library):
    r = run(REPORT, {"KELDO_CRYPTO_LIBRARY": library}, package_copy)
    assert r.returncode == 0, r.stderr
    assert r.stdout.split() == [library, "ba7816bf"]


def test_environment_variable_naming_nothing_is_an_error(package_copy, library):
    # No quiet fallback to another copy: a library beside the package is ignored.
    shutil.copy(library, package_copy / "keldo_crypto" / "libkeldo_crypto.so.1")
    r = run(FAIL, {"KELDO_CRYPTO_LIBRARY": "/nonexistent/libkeldo_crypto.so"}, package_copy)
    assert r.returncode == 0, r.stderr
    assert "/nonexistent/libkeldo_crypto.so (KELDO_CRYPTO_LIBRARY)" in r.stdout


def test_explicit_path_comes_first(package_copy, library):
    code = ("import keldo_crypto as k, sys\n"
            "print(k.load_library(sys.argv[1]))\n"
            "print(k.load_library())\n"
            "try:\n    k.load_library('/elsewhere/libkeldo_crypto.so')\n"
            "except k.KeldoError as e:\n    print('refused:', e)\n")
    r = subprocess.run([sys.executable, "-c", code, library], cwd=package_copy, text=True,
                       capture_output=True,
                       env={**os.environ, "KELDO_CRYPTO_LIBRARY": "/nonexistent"})
    assert r.returncode == 0, r.stderr
    lines = r.stdout.splitlines()
    assert lines[:2] == [library, library]
    assert lines[2] == f"refused: keldo-crypto is already loaded from {library}"


def test_package_folder(package_copy, library):
    shutil.copy(library, package_copy / "keldo_crypto" / "libkeldo_crypto.so.1")
    r = run(REPORT, {}, package_copy)
    assert r.returncode == 0, r.stderr
    assert r.stdout.split() == [str(package_copy / "keldo_crypto" / "libkeldo_crypto.so.1"),
                                "ba7816bf"]


def test_system_loader(package_copy, library):
    r = run(REPORT, {"LD_LIBRARY_PATH": os.path.dirname(library)}, package_copy)
    assert r.returncode == 0, r.stderr
    assert r.stdout.split() == ["libkeldo_crypto.so.1", "ba7816bf"]


def test_nothing_found(package_copy):
    if ctypes.util.find_library("keldo_crypto"):
        pytest.skip("keldo-crypto is installed on this system")
    r = run(FAIL, {}, package_copy)
    assert r.returncode == 0, r.stderr
    assert r.stdout.startswith("keldo-crypto not found: give its path to load_library(), "
                               "set KELDO_CRYPTO_LIBRARY")


def test_another_library_is_refused(package_copy):
    r = run(FAIL, {"KELDO_CRYPTO_LIBRARY": "libm.so.6"}, package_copy)
    assert r.returncode == 0, r.stderr
    assert "not keldo-crypto 1.2 or later, keldo_crypto_last_error is missing" in r.stdout
