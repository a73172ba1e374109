"""Loading the library, and its functions one for one: allocate the output,
call, check. The two token calls are in _tokens.py.

No lock anywhere: the functions used here either cannot fail with the
arguments checked beside each call (so the last-error text is never read),
or are the library's reentrant functions, which report a status code and
write nothing shared. ctypes.CDLL releases the GIL for the length of each
foreign call, so long calls (PBKDF2, password hashes) run in parallel with
Python code in other threads; the short token calls keep it (PyDLL), which
costs less than handing it over and back.
"""

from __future__ import annotations

import ctypes
import os
import sys
from typing import Callable, Optional
from ctypes import POINTER, c_char_p, c_int32, c_uint32, c_uint64, c_void_p

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
    # Interface 1.1: status codes, no shared state.
    ("keldo_crypto_status_text", c_char_p, (c_int32,)),
    ("keldo_jwt_mint_r", c_int32,
     (c_char_p, c_uint64, c_char_p, c_char_p, c_uint32, c_void_p, c_uint64, c_void_p)),
    ("keldo_jwt_verify_r", c_int32, (c_char_p, c_uint64, c_char_p, c_void_p, c_void_p, c_void_p)),
    ("keldo_password_hash", c_int32, (c_char_p, c_uint64, c_uint32, c_void_p, c_uint64)),
    ("keldo_password_encode", c_int32,
     (c_int32, c_char_p, c_uint64, c_char_p, c_uint64, c_uint32, c_void_p, c_uint64)),
    ("keldo_password_verify", c_int32, (c_char_p, c_uint64, c_char_p)),
    ("keldo_password_needs_rehash", c_int32, (c_char_p, c_uint32)),
    ("keldo_password_parameters", c_int32, (c_char_p, c_void_p, c_void_p)),
    # Interface 1.2: prepared token keys and key rings.
    ("keldo_jwt_key_init", c_int32, (c_void_p, c_char_p, c_uint64)),
    ("keldo_jwt_key_wipe", None, (c_void_p,)),
    ("keldo_jwt_mint_k", c_int32,
     (c_void_p, c_char_p, c_char_p, c_uint32, c_void_p, c_uint64, c_void_p)),
    ("keldo_jwt_verify_k", c_int32,
     (c_void_p, c_uint32, c_char_p, c_void_p, c_void_p, c_void_p, c_void_p)),
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
    crypto_status_text: Callable[[int], Optional[bytes]]
    jwt_mint_r: Callable[..., int]
    jwt_verify_r: Callable[..., int]
    password_hash: Callable[..., int]
    password_encode: Callable[..., int]
    password_verify: Callable[..., int]
    password_needs_rehash: Callable[..., int]
    password_parameters: Callable[..., int]
    jwt_key_init: Callable[..., int]
    jwt_key_wipe: Callable[..., None]
    jwt_mint_k: Callable[..., int]
    jwt_verify_k: Callable[..., int]
    jwt_mint_r_with_gil: Callable[..., int]
    jwt_verify_r_with_gil: Callable[..., int]
    jwt_mint_k_with_gil: Callable[..., int]
    jwt_verify_k_with_gil: Callable[..., int]

    def __init__(self, handle: ctypes.CDLL, path: str) -> None:
        self.path = path
        for name, restype, argtypes in _PROTOTYPES:
            try:
                fn = getattr(handle, name)
            except AttributeError:
                raise LibraryNotFound(
                    f"{path}: not keldo-crypto 1.2 or later, {name} is missing") from None
            fn.restype = restype
            if argtypes is not None:
                fn.argtypes = argtypes
            setattr(self, name[len("keldo_"):], fn)
        # The two token calls once more, through PyDLL, which keeps the GIL:
        # for a token of ordinary size they take about half a microsecond,
        # less than handing the GIL over and taking it back costs. No
        # argument conversion either (a quarter of the call's cost): they
        # are given only bytes, ctypes objects and None, which pass as
        # themselves, with every length and count a c_uint64 or c_uint32.
        with_gil = ctypes.PyDLL(path, handle=handle._handle)
        for name in ("keldo_jwt_mint_r", "keldo_jwt_verify_r", "keldo_jwt_mint_k",
                     "keldo_jwt_verify_k"):
            fn = getattr(with_gil, name)
            fn.restype = c_int32
            setattr(self, name[len("keldo_"):] + "_with_gil", fn)


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


def _checked_out(name: str) -> KeldoError:
    # Only reached if the library refused arguments checked above it.
    return KeldoError(f"keldo_{name}: refused arguments the binding had checked")


_texts: dict[int, str] = {}


def status_text(status: int) -> str:
    """The library's fixed text for a status (static in the library; kept
    here once read)."""
    text = _texts.get(status)
    if text is None:
        raw = library().crypto_status_text(status)
        text = _texts[status] = (raw or b"unknown status").decode("ascii", "replace")
    return text


def refusal(status: int) -> KeldoError:
    return status_error(status, status_text(status))


# ---- the thirteen, with arguments they cannot refuse -------------------------

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


def base64_decode(text: bytes, url: bool) -> bytes:
    """text: ASCII without NUL. With non-null arguments and an output large
    enough, the decoders have one refusal and one fixed text for it: the text
    is written here, not read from the library's shared error text."""
    lib = _lib or load()
    size = len(text) // 4 * 3 + 3
    out = ctypes.create_string_buffer(size)
    n = c_uint64()
    fn = lib.crypto_base64url_decode if url else lib.crypto_base64_decode
    if fn(text, out, size, ctypes.byref(n)) != 0:
        name = "base64url_decode" if url else "base64_decode"
        raise InvalidArgument(f"keldo_crypto_{name}: decode failed or buffer too small")
    return out.raw[:n.value]


def uuid_generate() -> str:
    lib = _lib or load()
    out = ctypes.create_string_buffer(37)
    if lib.crypto_uuid_generate(out) != 0:
        # The output is given, so the random source is the only failure.
        raise KeldoError("keldo_crypto_uuid_generate: CSPRNG generation failed")
    return out.value.decode("ascii")


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
    lib = _lib or load()
    out = ctypes.create_string_buffer(PASSWORD_HASH_MAX)
    rc = lib.password_hash(password, len(password), iterations, out, PASSWORD_HASH_MAX)
    if rc != 0:
        raise refusal(rc)
    return out.value.decode("ascii")


def password_encode(form: int, password: bytes, salt: bytes, iterations: int) -> str:
    lib = _lib or load()
    out = ctypes.create_string_buffer(PASSWORD_HASH_MAX + len(salt))
    rc = lib.password_encode(form, password, len(password), salt, len(salt), iterations,
                             out, len(out))
    if rc != 0:
        raise refusal(rc)
    return out.value.decode("utf-8", "surrogateescape")


def password_verify(password: bytes, stored: bytes) -> bool:
    """True on a match, False on none; a stored text that is no usable hash
    raises MalformedHash."""
    lib = _lib or load()
    rc = lib.password_verify(password, len(password), stored)
    if rc == 0:
        return True
    if -rc // 100 == KIND_MISMATCH:
        return False
    raise refusal(rc)


def password_needs_rehash(stored: bytes, min_iterations: int) -> bool:
    lib = _lib or load()
    rc = lib.password_needs_rehash(stored, min_iterations)
    if rc < 0:
        raise refusal(rc)
    return rc == 1


def password_parameters(stored: bytes) -> tuple[int, int]:
    """(form, iterations) of stored, without deriving anything."""
    lib = _lib or load()
    form = c_int32()
    iterations = c_uint32()
    rc = lib.password_parameters(stored, ctypes.byref(form), ctypes.byref(iterations))
    if rc != 0:
        raise refusal(rc)
    return form.value, iterations.value
