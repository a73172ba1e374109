"""The package under test is the source next to this folder, or, with
KELDO_PYTHON_TEST_INSTALLED=1, the copy installed where Python finds it.
The library is found as the package finds it; without KELDO_CRYPTO_LIBRARY,
the builds of this clone that scripts/test and scripts/quickstart make come
first."""

import os
import sys

import pytest

_source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
if os.environ.get("KELDO_PYTHON_TEST_INSTALLED") != "1":
    sys.path.insert(0, _source)
if not os.environ.get("KELDO_CRYPTO_LIBRARY"):
    _top = os.path.dirname(os.path.dirname(_source))
    for _build in ("build-test", "build"):
        _lib = os.path.join(_top, _build, "src", "libkeldo_crypto.so.1")
        if os.path.exists(_lib):
            os.environ["KELDO_CRYPTO_LIBRARY"] = _lib
            break

import keldo_crypto  # noqa: E402

SECRET = b"s" * 16 + b"-thirty-two-byte"  # 32 bytes


@pytest.fixture(scope="session", autouse=True)
def library() -> str:
    path = keldo_crypto.load_library()
    print(f"keldo_crypto from {keldo_crypto.__file__}, library {path}")
    return path
