"""The package under test is the one importable from here: an installed copy
when the tests run from its install, else the source next to this folder.
The library is found as the package finds it (KELDO_CRYPTO_LIBRARY, ...)."""

import os
import sys

import pytest

_source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
if os.environ.get("KELDO_PYTHON_TEST_INSTALLED") != "1":
    sys.path.insert(0, _source)

import keldo_crypto  # noqa: E402

SECRET = b"s" * 16 + b"-thirty-two-byte"  # 32 bytes


@pytest.fixture(scope="session", autouse=True)
def library() -> str:
    path = keldo_crypto.load_library()
    print(f"keldo_crypto from {keldo_crypto.__file__}, library {path}")
    return path
