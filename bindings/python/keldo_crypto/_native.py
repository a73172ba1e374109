"""Loading the library, and its functions one for one: check, call, build
the result. The calls are made by the compiled module _ext (_ext.c); the two
token calls are in _tokens.py. The file is opened here with ctypes.CDLL,
the interpreter's own loader, for its search and its messages and so that
_ext needs no dlopen of its own (which would raise the wheel's glibc floor);
ctypes only opens the file and looks the functions up, every call is _ext's.

No lock anywhere: the functions used here either cannot fail with the
arguments checked beside each call (so the last-error text is never read),
or are the library's reentrant functions, which report a status code and
write nothing shared. Long calls (PBKDF2, password hashes, large inputs)
release the GIL inside _ext, so they run in parallel with Python code in
other threads; short calls keep it, which costs less than handing it over
and back.
"""

from __future__ import annotations

import ctypes
import os
import sys

from . import _ext
from ._errors import (KIND_MISMATCH, InvalidArgument, KeldoError, LibraryNotFound,
                      MalformedHash, TypeError, status_error)

ENV_VAR = "KELDO_CRYPTO_LIBRARY"

if sys.platform == "win32":
    _NAMES = ("keldo_crypto.dll",)
elif sys.platform == "darwin":
    _NAMES = ("libkeldo_crypto.1.dylib", "libkeldo_crypto.dylib")
else:
    _NAMES = ("libkeldo_crypto.so.1", "libkeldo_crypto.so")

UINT32_MAX = 0xFFFFFFFF
PBKDF2_MAX_LENGTH = UINT32_MAX * 32  # RFC 8018: (2^32 - 1) blocks


class _Library:
    """The loaded library: the path it was loaded from, and the open file
    (kept open while _ext calls its functions)."""

    path: str

    def __init__(self, handle: ctypes.CDLL, path: str) -> None:
        self.path = path
        self._handle = handle
        addresses = []
        for name in _ext.FUNCTIONS:
            try:
                fn = getattr(handle, name)
            except AttributeError:
                raise LibraryNotFound(
                    f"{path}: not keldo-crypto 1.2 or later, {name} is missing") from None
            addresses.append(ctypes.cast(fn, ctypes.c_void_p).value)
        _ext.bind(tuple(addresses))


_lib: _Library | None = None


def _open(path: str, source: str) -> _Library:
    try:
        handle = ctypes.CDLL(path)
    except OSError as e:
        raise LibraryNotFound(f"cannot load keldo-crypto from {path} ({source}): {e}") from None
    return _Library(handle, getattr(handle, "_name", path))


def _bundled() -> str | None:
    """The library a platform wheel carries in _libs/, with the yyjson it
    links (found there through its RUNPATH $ORIGIN). It is the build this
    package was made and tested with, so it comes before any other."""
    libs = os.path.join(os.path.dirname(os.path.abspath(__file__)), "_libs")
    for name in _NAMES:
        candidate = os.path.join(libs, name)
        if os.path.exists(candidate):
            return candidate
    return None


def _find(path: str | os.PathLike[str] | None) -> _Library:
    if path is not None:
        return _open(os.fspath(path), "the path given")
    bundled = _bundled()
    if bundled is not None:
        return _open(bundled, "the library inside this package")
    env = os.environ.get(ENV_VAR)
    if env:
        # A host that names a library means that one: no fallback.
        return _open(env, ENV_VAR)
    here = os.path.dirname(os.path.abspath(__file__))
    for name in _NAMES:
        candidate = os.path.join(here, name)
        if os.path.exists(candidate):
            return _open(candidate, "the package folder")
    errors = []
    for name in _NAMES:
        try:
            return _Library(ctypes.CDLL(name), name)
        except OSError as e:
            errors.append(str(e))
    raise LibraryNotFound(
        f"keldo-crypto not found: give its path to load_library(), set {ENV_VAR}, "
        f"put it next to this package or where the system loader looks "
        f"({'; '.join(errors)})")


def load(path: str | os.PathLike[str] | None = None) -> _Library:
    global _lib
    # No lock: two threads that load at once get the same file (dlopen
    # counts references) and either object serves.
    if _lib is None:
        _lib = _find(path)
    elif path is not None and os.path.realpath(path) != os.path.realpath(_lib.path):
        raise KeldoError(f"keldo-crypto is already loaded from {_lib.path}")
    return _lib


def library() -> _Library:
    return _lib or load()


_texts: dict[int, str] = {}


def status_text(status: int) -> str:
    """The library's fixed text for a status (static in the library; kept
    here once read)."""
    text = _texts.get(status)
    if text is None:
        raw = _ext.status_text(status)
        text = _texts[status] = (raw or b"unknown status").decode("ascii", "replace")
    return text


def refusal(status: int) -> KeldoError:
    return status_error(status, status_text(status))


# ---- the thirteen, with arguments they cannot refuse -------------------------
# Each _ext function loads the library the way load() does if nothing is
# loaded yet.

def secure_compare(a: bytes, b: bytes) -> bool:
    """a and b of equal length; the time depends on that length only."""
    return _ext.secure_compare(a, b)


sha256 = _ext.sha256
hmac_sha256 = _ext.hmac_sha256


def pbkdf2_sha256(password: bytes, salt: bytes, iterations: int, length: int) -> bytes:
    if not 1 <= iterations <= UINT32_MAX:
        raise InvalidArgument(f"pbkdf2_sha256: iterations must be 1 to {UINT32_MAX}")
    if not 1 <= length <= PBKDF2_MAX_LENGTH:
        raise InvalidArgument(f"pbkdf2_sha256: length must be 1 to {PBKDF2_MAX_LENGTH}")
    return _ext.pbkdf2_sha256(password, salt, iterations, length)


base64_encode = _ext.base64_encode


def base64_decode(text: bytes, url: bool) -> bytes:
    """text: ASCII without NUL. With non-null arguments and an output large
    enough, the decoders have one refusal and one fixed text for it: the text
    is written here, not read from the library's shared error text."""
    out = _ext.base64_decode(text, url)
    if out is None:
        name = "base64url_decode" if url else "base64_decode"
        raise InvalidArgument(f"keldo_crypto_{name}: decode failed or buffer too small")
    return out


def uuid_generate() -> str:
    out = _ext.uuid_generate()
    if out is None:
        # The output is given, so the random source is the only failure.
        raise KeldoError("keldo_crypto_uuid_generate: CSPRNG generation failed")
    return out


# ---- password-hash strings ---------------------------------------------------

PASSWORD_HASH_MAX = 256  # KELDO_PASSWORD_HASH_MAX: no text the library writes is longer

FORM_PHC = 1
FORM_DJANGO = 2
FORM_PASSLIB = 3
FORM_WERKZEUG = 4


def stored_text(stored: object, fn: str) -> bytes:
    """A stored hash as the C text the library reads."""
    if not isinstance(stored, str):
        raise TypeError(f"{fn}: stored must be str")
    # A NUL would end the C text early; such a string is no hash.
    if "\0" in stored:
        raise MalformedHash(f"{fn}: stored hash holds a NUL character")
    try:
        return stored.encode("utf-8", "surrogateescape")
    except UnicodeEncodeError:  # a lone surrogate: no text a hash function wrote
        raise MalformedHash(f"{fn}: stored hash is not valid text") from None


def password_hash(password: bytes, iterations: int) -> str:
    return _ext.password_hash(password, iterations)


def password_encode(form: int, password: bytes, salt: bytes, iterations: int) -> str:
    return _ext.password_encode(form, password, salt, iterations)


def password_verify(password: bytes, stored: bytes) -> bool:
    """True on a match, False on none; a stored text that is no usable hash
    raises MalformedHash."""
    rc = _ext.password_verify(password, stored)
    if rc == 0:
        return True
    if -rc // 100 == KIND_MISMATCH:
        return False
    raise refusal(rc)


def password_needs_rehash(stored: bytes, min_iterations: int) -> bool:
    rc = _ext.password_needs_rehash(stored, min_iterations)
    if rc < 0:
        raise refusal(rc)
    return rc == 1


def password_parameters(stored: bytes) -> tuple[int, int]:
    """(form, iterations) of stored, without deriving anything."""
    return _ext.password_parameters(stored)
