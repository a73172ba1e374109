"""keldo-crypto for Python: HS256 tokens, PBKDF2 password hashes, SHA-256,
HMAC-SHA256, Base64 and UUIDs from the keldo-crypto shared library.

Safe to call from any number of threads, with no lock: the library's
token and password functions write only the caller's buffers. Binary data is bytes in and bytes
out; tokens, UUIDs and Base64 are text. Refusals raise the exceptions below,
with the library's own message where the library refused.
"""

from __future__ import annotations

import os

from . import _native
from ._checks import (MIN_SECRET_BYTES, Buffer, as_bytes, as_int, ascii_text,
                      text_or_bytes)
from ._errors import (BadSignature, InvalidArgument, InvalidClaims, KeldoError,
                      LibraryNotFound, MalformedHash, MalformedToken, TokenError,
                      TokenExpired, TokenNotYetValid, TypeError)
from ._keys import KEYS_MAX, KeyRing, TokenKey
from ._tokens import MAX_EMAIL_BYTES, MAX_SUB_BYTES, Claims, jwt_mint, jwt_verify

__version__ = "1.2.0"

__all__ = [
    "DEFAULT_ITERATIONS", "KEYS_MAX", "MAX_EMAIL_BYTES", "MAX_ITERATIONS", "MAX_PASSWORD_BYTES",
    "MAX_SUB_BYTES", "MIN_SECRET_BYTES",
    "BadSignature", "Claims", "InvalidArgument", "InvalidClaims", "KeldoError", "KeyRing",
    "LibraryNotFound", "MalformedHash", "MalformedToken", "TokenError", "TokenExpired",
    "TokenKey", "TokenNotYetValid", "TypeError",
    "b64decode", "b64encode", "b64url_decode", "b64url_encode", "compare_digest",
    "hash_password", "hmac_sha256", "jwt_mint", "jwt_verify", "load_library",
    "needs_rehash", "pbkdf2_sha256", "sha256", "uuid4", "verify_password",
]

# Password hashes: the library's bounds.
DEFAULT_ITERATIONS = 600_000  # OWASP's figure for PBKDF2-HMAC-SHA256
MAX_ITERATIONS = 100_000_000
MAX_PASSWORD_BYTES = 4096


def load_library(path: str | os.PathLike[str] | None = None) -> str:
    """Loads keldo-crypto now and returns the path it was loaded from.

    Without a call, the first function that needs the library loads it from
    $KELDO_CRYPTO_LIBRARY, else from this package's folder, else through the
    system loader. A path given here comes first; it can be given once.
    """
    return _native.load(path).path


# ---- passwords ------------------------------------------------------------------

def pbkdf2_sha256(password: str | Buffer, salt: Buffer, iterations: int,
                  length: int = 32) -> bytes:
    """PBKDF2-HMAC-SHA256 (RFC 8018); a str password is used as UTF-8."""
    pw = text_or_bytes(password, "pbkdf2_sha256: password")
    s = as_bytes(salt, "pbkdf2_sha256: salt")
    return _native.pbkdf2_sha256(pw, s, as_int("pbkdf2_sha256", iterations, "iterations"),
                                 as_int("pbkdf2_sha256", length, "length"))


def hash_password(password: str | Buffer, *, iterations: int = DEFAULT_ITERATIONS) -> str:
    """A PHC string "$pbkdf2-sha256$i=N$SALT$HASH" with a random 16-byte salt.

    SALT and HASH are unpadded standard Base64; HASH holds 32 bytes.
    """
    pw = text_or_bytes(password, "hash_password: password")
    if not pw:
        raise InvalidArgument("hash_password: the password is empty")
    if len(pw) > MAX_PASSWORD_BYTES:
        raise InvalidArgument(f"hash_password: password is longer than {MAX_PASSWORD_BYTES} bytes")
    if not 1 <= as_int("hash_password", iterations, "iterations") <= MAX_ITERATIONS:
        raise InvalidArgument(f"hash_password: iterations must be 1 to {MAX_ITERATIONS}")
    return _native.password_hash(pw, iterations)


def verify_password(password: str | Buffer, stored: str) -> bool:
    """Whether password matches stored, a PBKDF2-HMAC-SHA256 hash in any of
    the forms the library reads: the PHC form hash_password writes
    ("$pbkdf2-sha256$i=N$SALT$HASH"), Django's "pbkdf2_sha256$N$SALT$HASH",
    passlib's "$pbkdf2-sha256$N$SALT$HASH" and Werkzeug's
    "pbkdf2:sha256:N$SALT$HEXHASH".

    A password over 4096 bytes never matches (False). A stored text that is
    not such a hash raises MalformedHash (an InvalidArgument): a broken user
    table is not reported as a wrong password.
    """
    stored_c = _native.stored_text(stored, "verify_password")
    pw = text_or_bytes(password, "verify_password: password")
    return _native.password_verify(pw, stored_c)


def needs_rehash(stored: str, *, iterations: int = DEFAULT_ITERATIONS) -> bool:
    """Whether stored should be replaced by a fresh hash_password() at the
    next successful login: it is not in the PHC form, or its iteration count
    is below iterations. Raises MalformedHash for a text that is no hash."""
    stored_c = _native.stored_text(stored, "needs_rehash")
    if not 1 <= as_int("needs_rehash", iterations, "iterations") <= MAX_ITERATIONS:
        raise InvalidArgument(f"needs_rehash: iterations must be 1 to {MAX_ITERATIONS}")
    return _native.password_needs_rehash(stored_c, iterations)


# ---- primitives -----------------------------------------------------------------

def sha256(data: Buffer) -> bytes:
    """The 32-byte SHA-256 digest of data."""
    return _native.sha256(as_bytes(data, "sha256: data"))


def hmac_sha256(key: Buffer, data: Buffer) -> bytes:
    """The 32-byte HMAC-SHA256 of data under key (any length)."""
    return _native.hmac_sha256(as_bytes(key, "hmac_sha256: key"),
                               as_bytes(data, "hmac_sha256: data"))


def compare_digest(a: Buffer | str, b: Buffer | str) -> bool:
    """a == b in time that depends only on the length, as hmac.compare_digest:
    bytes-like with bytes-like, or ASCII str with ASCII str."""
    if type(a) is not bytes or type(b) is not bytes:
        if isinstance(a, str) or isinstance(b, str):
            if not (isinstance(a, str) and isinstance(b, str)):
                raise TypeError("compare_digest: a str compares only with a str")
            if not (a.isascii() and b.isascii()):
                raise TypeError("compare_digest: str arguments must be ASCII")
            a, b = a.encode("ascii"), b.encode("ascii")
        else:
            a, b = as_bytes(a, "compare_digest: a"), as_bytes(b, "compare_digest: b")
    # Lengths are not secret (hmac.compare_digest also answers at once).
    return len(a) == len(b) and _native.secure_compare(a, b)


def b64encode(data: Buffer) -> str:
    """Standard Base64 with '=' padding."""
    return _native.base64_encode(as_bytes(data, "b64encode: data"), False)


def b64url_encode(data: Buffer) -> str:
    """base64url without padding."""
    return _native.base64_encode(as_bytes(data, "b64url_encode: data"), True)


def b64decode(text: str | bytes) -> bytes:
    """Decodes standard Base64; trailing '=', CR, LF and spaces are ignored."""
    return _native.base64_decode(ascii_text("b64decode", text, "text"), False)


def b64url_decode(text: str | bytes) -> bytes:
    """Decodes base64url (the standard alphabet is accepted too); trailing '=',
    CR, LF and spaces are ignored."""
    return _native.base64_decode(ascii_text("b64url_decode", text, "text"), True)


def uuid4() -> str:
    """A random version 4 UUID, 36 lowercase characters."""
    return _native.uuid_generate()
