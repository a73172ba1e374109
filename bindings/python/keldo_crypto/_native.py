"""Loading the library, and its functions one for one: allocate the output,
call, check. The two token calls are in _tokens.py.

Two buffers of the library are process-wide: the last-error text and the
token keldo_jwt_mint returns. Every call that can fail therefore runs under
`lock` together with its read of the error text, and so does each mint with
the copy of its token. The other calls get arguments that cannot be refused
(the checks are here, next to the calls) and run without the lock; ctypes.CDLL
releases the GIL for the length of each foreign call, so they also run in
parallel with Python code in other threads (the token calls, short and locked
anyway, keep it unless the token is long).
"""

from __future__ import annotations

import ctypes
import os
import sys
import threading
from typing import Callable, Optional
from ctypes import POINTER, c_char_p, c_int32, c_uint32, c_uint64, c_void_p

from ._errors import InvalidArgument, KeldoError, LibraryNotFound

ENV_VAR = "KELDO_CRYPTO_LIBRARY"

if sys.platform == "win32":
    _NAMES = ("keldo_crypto.dll",)
elif sys.platform == "darwin":
    _NAMES = ("libkeldo_crypto.1.dylib", "libkeldo_crypto.dylib")
else:
    _NAMES = ("libkeldo_crypto.so.1", "libkeldo_crypto.so")

UINT32_MAX = 0xFFFFFFFF
PBKDF2_MAX_LENGTH = UINT32_MAX * 32  # RFC 8018: (2^32 - 1) blocks

# (name, result type, argument types): the thirteen exports.
_PROTOTYPES = (
    ("keldo_crypto_last_error", c_char_p, ()),
    ("keldo_crypto_secure_compare", c_int32, (c_char_p, c_char_p, c_uint64)),
    ("keldo_verify_password_hash", c_int32, (c_char_p, c_char_p)),
    ("keldo_crypto_sha256", c_int32, (c_char_p, c_uint64, c_void_p)),
    ("keldo_crypto_hmac_sha256", c_int32, (c_char_p, c_uint64, c_char_p, c_uint64, c_void_p)),
    ("keldo_crypto_pbkdf2_sha256", c_int32,
     (c_char_p, c_uint64, c_char_p, c_uint64, c_uint32, c_void_p, c_uint64)),
    ("keldo_crypto_base64_encode", c_int32, (c_char_p, c_uint64, c_void_p, c_uint64)),
    ("keldo_crypto_base64_decode", c_int32, (c_char_p, c_void_p, c_uint64, POINTER(c_uint64))),
    ("keldo_crypto_base64url_encode", c_int32, (c_char_p, c_uint64, c_void_p, c_uint64)),
    ("keldo_crypto_base64url_decode", c_int32, (c_char_p, c_void_p, c_uint64, POINTER(c_uint64))),
    ("keldo_crypto_uuid_generate", c_int32, (c_void_p,)),
    # No argument conversion for the two token calls, the hot paths: they
    # are given only bytes and ctypes objects, which pass as themselves.
    ("keldo_jwt_mint", c_char_p, None),
    ("keldo_jwt_verify", c_int32, None),
)


class _Library:
    """The loaded library: its path and its functions with their prototypes."""

    path: str
    crypto_last_error: Callable[[], bytes]
    crypto_secure_compare: Callable[..., int]
    verify_password_hash: Callable[..., int]
    crypto_sha256: Callable[..., int]
    crypto_hmac_sha256: Callable[..., int]
    crypto_pbkdf2_sha256: Callable[..., int]
    crypto_base64_encode: Callable[..., int]
    crypto_base64_decode: Callable[..., int]
    crypto_base64url_encode: Callable[..., int]
    crypto_base64url_decode: Callable[..., int]
    crypto_uuid_generate: Callable[..., int]
    jwt_mint: Callable[..., Optional[bytes]]
    jwt_verify: Callable[..., int]
    jwt_mint_with_gil: Callable[..., Optional[bytes]]
    jwt_verify_with_gil: Callable[..., int]

    def __init__(self, handle: ctypes.CDLL, path: str) -> None:
        self.path = path
        for name, restype, argtypes in _PROTOTYPES:
            try:
                fn = getattr(handle, name)
            except AttributeError:
                raise LibraryNotFound(f"{path}: not keldo-crypto, {name} is missing") from None
            fn.restype = restype
            if argtypes is not None:
                fn.argtypes = argtypes
            setattr(self, name[len("keldo_"):], fn)
        # The two token calls once more, through PyDLL, which keeps the GIL:
        # they run under the lock anyway, and for a token of ordinary size
        # take about half a microsecond, less than handing the GIL over and
        # taking it back costs (_tokens.py).
        with_gil = ctypes.PyDLL(path, handle=handle._handle)
        with_gil.keldo_jwt_mint.restype = c_char_p
        with_gil.keldo_jwt_verify.restype = c_int32
        self.jwt_mint_with_gil = with_gil.keldo_jwt_mint
        self.jwt_verify_with_gil = with_gil.keldo_jwt_verify


_lib: _Library | None = None
_load_lock = threading.Lock()
# The lock of the thread rules; the token calls (_tokens.py) take it too.
lock = threading.Lock()

# Output of the decoders, used only under the lock.
_decoded_len = c_uint64()
_decoded_len_ptr = ctypes.pointer(_decoded_len)


def _release_locks_in_child() -> None:
    # A fork while another thread holds a lock would leave it held forever
    # in the child, where that thread does not exist.
    for held in (lock, _load_lock):
        if held.locked():
            held.release()


if hasattr(os, "register_at_fork"):
    os.register_at_fork(after_in_child=_release_locks_in_child)


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
    with _load_lock:
        if _lib is None:
            _lib = _find(path)
        elif path is not None and os.path.realpath(path) != os.path.realpath(_lib.path):
            raise KeldoError(f"keldo-crypto is already loaded from {_lib.path}")
        return _lib


def library() -> _Library:
    return _lib or load()


def _checked_out(name: str) -> KeldoError:
    # Only reached if the library refused arguments checked above it; the
    # error text cannot be read safely outside the lock, so it is not.
    return KeldoError(f"keldo_{name}: refused arguments the binding had checked")


# ---- calls that cannot fail: no lock ----------------------------------------

_Digest = ctypes.c_char * 32  # the array type once: create_string_buffer is slow

def secure_compare(a: bytes, b: bytes) -> bool:
    """a and b of equal length; the time depends on that length only."""
    lib = _lib or load()
    return lib.crypto_secure_compare(a, b, len(a)) == 0


def sha256(data: bytes) -> bytes:
    lib = _lib or load()
    out = _Digest()
    if lib.crypto_sha256(data, len(data), out) != 0:
        raise _checked_out("crypto_sha256")
    return out.raw


def hmac_sha256(key: bytes, data: bytes) -> bytes:
    lib = _lib or load()
    out = _Digest()
    if lib.crypto_hmac_sha256(key, len(key), data, len(data), out) != 0:
        raise _checked_out("crypto_hmac_sha256")
    return out.raw


def pbkdf2_sha256(password: bytes, salt: bytes, iterations: int, length: int) -> bytes:
    if not 1 <= iterations <= UINT32_MAX:
        raise InvalidArgument(f"pbkdf2_sha256: iterations must be 1 to {UINT32_MAX}")
    if not 1 <= length <= PBKDF2_MAX_LENGTH:
        raise InvalidArgument(f"pbkdf2_sha256: length must be 1 to {PBKDF2_MAX_LENGTH}")
    lib = _lib or load()
    out = ctypes.create_string_buffer(length)
    if lib.crypto_pbkdf2_sha256(password, len(password), salt, len(salt), iterations,
                                out, length) != 0:
        raise _checked_out("crypto_pbkdf2_sha256")
    return out.raw


def base64_encode(data: bytes, url: bool) -> str:
    lib = _lib or load()
    size = (len(data) + 2) // 3 * 4 + 1  # enough for both alphabets
    out = ctypes.create_string_buffer(size)
    fn = lib.crypto_base64url_encode if url else lib.crypto_base64_encode
    if fn(data, len(data), out, size) != 0:
        raise _checked_out("crypto_base64url_encode" if url else "crypto_base64_encode")
    return out.value.decode("ascii")


# ---- calls that can fail: under the lock ------------------------------------

def base64_decode(text: bytes, url: bool) -> bytes:
    """text: ASCII without NUL."""
    lib = _lib or load()
    size = len(text) // 4 * 3 + 3
    out = ctypes.create_string_buffer(size)
    fn = lib.crypto_base64url_decode if url else lib.crypto_base64_decode
    with lock:
        if fn(text, out, size, _decoded_len_ptr) != 0:
            raise InvalidArgument(lib.crypto_last_error().decode("ascii", "replace"))
        n = _decoded_len.value
    return out.raw[:n]


def uuid_generate() -> str:
    lib = _lib or load()
    out = ctypes.create_string_buffer(37)
    with lock:
        if lib.crypto_uuid_generate(out) != 0:
            raise KeldoError(lib.crypto_last_error().decode("ascii", "replace"))
    return out.value.decode("ascii")
