"""keldo-crypto for Python: HS256 tokens, PBKDF2 password hashes, SHA-256,
HMAC-SHA256, Base64 and UUIDs from the keldo-crypto shared library.

Safe to call from any number of threads. Binary data is bytes in and bytes
out; tokens, UUIDs and Base64 are text. Refusals raise the exceptions below,
with the library's own message where the library refused.
"""

from __future__ import annotations

import os

from . import _native
from ._checks import (MIN_SECRET_BYTES, Buffer, as_bytes, as_int, ascii_text,
                      text_or_bytes)
from ._errors import (BadSignature, InvalidArgument, InvalidClaims, KeldoError,
                      LibraryNotFound, MalformedToken, TokenError, TokenExpired,
                      TokenNotYetValid)
from ._tokens import MAX_EMAIL_BYTES, MAX_SUB_BYTES, Claims, jwt_mint, jwt_verify

__version__ = "1.0.0"

__all__ = [
    "DEFAULT_ITERATIONS", "MAX_EMAIL_BYTES", "MAX_ITERATIONS", "MAX_SUB_BYTES",
    "MIN_SECRET_BYTES",
    "BadSignature", "Claims", "InvalidArgument", "InvalidClaims", "KeldoError",
    "LibraryNotFound", "MalformedToken", "TokenError", "TokenExpired", "TokenNotYetValid",
    "b64decode", "b64encode", "b64url_decode", "b64url_encode", "compare_digest",
    "hash_password", "hmac_sha256", "jwt_mint", "jwt_verify", "load_library",
    "pbkdf2_sha256", "sha256", "uuid4", "verify_password",
]

# Password hashes: the bounds of the command-line tool's password commands.
DEFAULT_ITERATIONS = 600_000  # OWASP's figure for PBKDF2-HMAC-SHA256
MAX_ITERATIONS = 100_000_000
MAX_PASSWORD_BYTES = 4096
MAX_STORED_CHARS = 4096
MAX_FIELD_CHARS = 1024
SALT_BYTES = 16
HASH_BYTES = 32


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


def _password(fn: str, password: str | Buffer) -> bytes:
    pw = text_or_bytes(password, f"{fn}: password")
    if len(pw) > MAX_PASSWORD_BYTES:
        raise InvalidArgument(f"{fn}: password is longer than {MAX_PASSWORD_BYTES} bytes")
    return pw


def hash_password(password: str | Buffer, *, iterations: int = DEFAULT_ITERATIONS) -> str:
    """A PHC string "$pbkdf2-sha256$i=N$SALT$HASH" with a random 16-byte salt.

    SALT and HASH are unpadded standard Base64; HASH holds 32 bytes.
    """
    pw = _password("hash_password", password)
    if not pw:
        raise InvalidArgument("hash_password: the password is empty")
    if not 1 <= as_int("hash_password", iterations, "iterations") <= MAX_ITERATIONS:
        raise InvalidArgument(f"hash_password: iterations must be 1 to {MAX_ITERATIONS}")
    salt = os.urandom(SALT_BYTES)
    dk = _native.pbkdf2_sha256(pw, salt, iterations, HASH_BYTES)
    return (f"$pbkdf2-sha256$i={iterations}${_native.base64_encode(salt, False).rstrip('=')}"
            f"${_native.base64_encode(dk, False).rstrip('=')}")


_B64_ALPHABET = frozenset(b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")


def _b64_field(field: str, pad_ok: bool) -> bytes | None:
    """The bytes of a field of standard Base64 in its one canonical spelling
    (unpadded, or with its padding when pad_ok), else None."""
    if not field or len(field) > MAX_FIELD_CHARS or not field.isascii():
        return None
    body = field.rstrip("=") if pad_ok else field
    padded = len(field) != len(body)
    if len(field) - len(body) > 2 or (padded and len(field) % 4 != 0):
        return None
    raw = body.encode("ascii")
    if not _B64_ALPHABET.issuperset(raw) or len(raw) % 4 == 1:
        return None
    data = _native.base64_decode(raw, False)
    # The decoder ignores the unused low bits of the last character; only
    # the spelling the encoder writes is accepted.
    encoded = _native.base64_encode(data, False)
    return data if (encoded if padded else encoded.rstrip("=")) == field else None


def _iterations(text: str) -> int | None:
    if not 1 <= len(text) <= 9 or not text.isascii() or not text.isdigit():
        return None
    n = int(text)
    return n if 1 <= n <= MAX_ITERATIONS else None


def _parse_stored(stored: str) -> tuple[int, bytes, bytes]:
    """(iterations, salt, expected key) of a PHC or Django PBKDF2 hash."""
    fn = "verify_password"
    if not isinstance(stored, str):
        raise TypeError(f"{fn}: stored must be str")
    if len(stored) > MAX_STORED_CHARS:
        raise InvalidArgument(f"{fn}: stored hash is longer than {MAX_STORED_CHARS} characters")
    fields = stored.split("$")
    if stored.startswith("$pbkdf2-sha256$"):
        n = _iterations(fields[2][2:]) if len(fields) == 5 and fields[2].startswith("i=") else None
        if n is None:
            raise InvalidArgument(f"{fn}: not a valid $pbkdf2-sha256$i=N$SALT$HASH string")
        salt = _b64_field(fields[3], False)
        key = _b64_field(fields[4], False)
        if salt is None or key is None:
            raise InvalidArgument(
                f"{fn}: salt or hash of the $pbkdf2-sha256$ string is not unpadded Base64")
        if len(key) != HASH_BYTES:
            raise InvalidArgument(f"{fn}: hash of the $pbkdf2-sha256$ string is not 32 bytes")
        return n, salt, key
    if stored.startswith("pbkdf2_sha256$"):
        # Django's form: the salt is used as its text.
        n = _iterations(fields[1]) if len(fields) == 4 else None
        if n is None or not fields[2] or len(fields[2]) > MAX_FIELD_CHARS:
            raise InvalidArgument(f"{fn}: not a valid pbkdf2_sha256$N$SALT$HASH string")
        key = _b64_field(fields[3], True)
        if key is None or len(key) != HASH_BYTES:
            raise InvalidArgument(
                f"{fn}: hash of the pbkdf2_sha256$ string is not Base64 of 32 bytes")
        return n, text_or_bytes(fields[2], f"{fn}: salt"), key
    raise InvalidArgument(f"{fn}: unrecognised hash; expected $pbkdf2-sha256$i=N$SALT$HASH "
                          "or pbkdf2_sha256$N$SALT$HASH")


def verify_password(password: str | Buffer, stored: str) -> bool:
    """Whether password matches stored, a hash in the PHC form hash_password
    writes or Django's "pbkdf2_sha256$N$SALT$HASH". A stored text that is not
    such a hash raises InvalidArgument; it never compares as a mismatch."""
    iterations, salt, expected = _parse_stored(stored)
    pw = _password("verify_password", password)
    dk = _native.pbkdf2_sha256(pw, salt, iterations, HASH_BYTES)
    return _native.secure_compare(dk, expected)


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
