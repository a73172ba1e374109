"""A password hasher for Django that is a drop-in for its default one.

    PASSWORD_HASHERS = [
        "keldo_crypto.django.PBKDF2PasswordHasher",
        "django.contrib.auth.hashers.PBKDF2PasswordHasher",  # optional
        ...
    ]

It is Django's PBKDF2PasswordHasher with the derivation and the comparison
done by keldo-crypto: same algorithm name ("pbkdf2_sha256"), same
"pbkdf2_sha256$N$SALT$HASH" strings, same iteration count (Django's, which
a subclass may change as with Django's own), so hashes written by either
verify under the other. must_update, harden_runtime and safe_summary are
Django's own, working on decode().

Whatever the library does not read (a salt over 1024 characters, more than
10^8 iterations, a password over 4096 bytes, and strings it refuses as not
canonical: a count with a leading zero, an unpadded hash, an extra "$"
field) goes through Django's own code, so every answer is Django's: a
stored row the stock hasher verifies, this one verifies; one it answers
False, this one answers False; one it raises on, this one raises on.
"""

from __future__ import annotations

from typing import Any

# Django ships no type information.
from django.contrib.auth.hashers import PBKDF2PasswordHasher as _DjangoPBKDF2  # type: ignore[import]

from . import _native
from ._checks import text_or_bytes
from ._errors import InvalidArgument, MalformedHash

__all__ = ["PBKDF2PasswordHasher"]

MAX_PASSWORD_BYTES = 4096


def _password(password: str | bytes) -> bytes:
    return text_or_bytes(password, "django: password")


class PBKDF2PasswordHasher(_DjangoPBKDF2):  # type: ignore[misc]
    """Django's PBKDF2-HMAC-SHA256 hasher, computed by keldo-crypto."""

    algorithm = "pbkdf2_sha256"

    def encode(self, password: str | bytes, salt: str, iterations: int | None = None) -> str:
        check = getattr(self, "_check_encode_args", None)  # Django 4.0 and later
        if check is not None:
            check(password, salt)
        else:
            assert password is not None
            assert salt and "$" not in salt
        iterations = iterations or self.iterations
        pw = _password(password)
        try:
            return _native.password_encode(_native.FORM_DJANGO, pw, salt.encode(), iterations)
        except InvalidArgument:
            # Beyond the library's bounds (a password over 4096 bytes, a salt
            # over 1024, more than 10^8 iterations): Django's own code, so
            # that every hash Django writes is still written.
            return str(super().encode(password, salt, iterations))

    def decode(self, encoded: str) -> dict[str, Any]:
        try:
            form, iterations = _native.password_parameters(_native.stored_text(encoded, "decode"))
        except MalformedHash:
            return dict(super().decode(encoded))
        if form != _native.FORM_DJANGO:
            return dict(super().decode(encoded))
        algorithm, _, salt, hash_ = encoded.split("$", 3)
        return {"algorithm": algorithm, "hash": hash_, "iterations": iterations, "salt": salt}

    def verify(self, password: str | bytes, encoded: str) -> bool:
        pw = _password(password)
        if len(pw) > MAX_PASSWORD_BYTES:
            # The library never matches such a password; Django would.
            return bool(super().verify(password, encoded))
        # Django chose this hasher by the "pbkdf2_sha256$" prefix, which only
        # Django's form has.
        try:
            return _native.password_verify(pw, _native.stored_text(encoded, "verify"))
        except MalformedHash:
            return bool(super().verify(password, encoded))
