"""The exceptions, and which status kind belongs to which of them."""

from __future__ import annotations

import builtins


class KeldoError(Exception):
    """Base of every error this package raises; str() is the message."""


class TypeError(builtins.TypeError, KeldoError):
    """An argument of the wrong type. Also the built-in TypeError, so that
    either except clause catches it."""


class LibraryNotFound(KeldoError, OSError):
    """The shared library could not be found or loaded."""


class InvalidArgument(KeldoError, ValueError):
    """An argument was refused, by this package or by the library."""


class MalformedHash(InvalidArgument):
    """A stored password hash that is not a usable hash in any known form:
    a broken user table, not a wrong password."""


class TokenError(KeldoError):
    """A token was refused."""


class MalformedToken(TokenError):
    """No token, or not three segments of base64url with a JSON object."""


class BadSignature(TokenError):
    """The signature does not match the secret."""


class TokenExpired(TokenError):
    """The clock is past the token's "exp"."""


class TokenNotYetValid(TokenError):
    """The token's "nbf" is more than the leeway ahead of the clock."""


class InvalidClaims(TokenError):
    """The issuer is wrong, or sub, email or exp is missing or unusable."""


# The library's status kinds (-status // 100), as the header numbers them.
KIND_INVALID_ARGUMENT = 1
KIND_BUFFER_TOO_SMALL = 2
KIND_MALFORMED = 3
KIND_BAD_SIGNATURE = 4
KIND_EXPIRED = 5
KIND_NOT_YET_VALID = 6
KIND_INVALID_CLAIMS = 7
KIND_MISMATCH = 8
KIND_MALFORMED_HASH = 9
KIND_INTERNAL = 10

_BY_KIND: dict[int, type[KeldoError]] = {
    KIND_INVALID_ARGUMENT: InvalidArgument,
    KIND_MALFORMED: MalformedToken,
    # A signature that cannot be one is a bad signature, as in the other
    # bindings ("invalid signature format or length" is kind 3 in the
    # library, but only the signature segment is wrong).
    KIND_BAD_SIGNATURE: BadSignature,
    KIND_EXPIRED: TokenExpired,
    KIND_NOT_YET_VALID: TokenNotYetValid,
    KIND_INVALID_CLAIMS: InvalidClaims,
    KIND_MALFORMED_HASH: MalformedHash,
}

SIGNATURE_FORMAT = -304  # KELDO_E_SIGNATURE_FORMAT


def status_error(status: int, message: str) -> KeldoError:
    """The exception for a negative status of the library. A kind this table
    does not know (buffer too small, internal failure, or a newer library's
    kind) is still a refusal: never success."""
    if status == SIGNATURE_FORMAT:
        return BadSignature(message)
    return _BY_KIND.get(-status // 100, KeldoError)(message)
