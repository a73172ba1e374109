"""The exceptions, and which library message belongs to which of them."""

from __future__ import annotations


class KeldoError(Exception):
    """Base of every error this package raises; str() is the message."""


class LibraryNotFound(KeldoError, OSError):
    """The shared library could not be found or loaded."""


class InvalidArgument(KeldoError, ValueError):
    """An argument was refused, by this package or by the library."""


class TokenError(KeldoError):
    """A token was refused."""


class MalformedToken(TokenError):
    """The token is not three segments of base64url with a JSON object."""


class BadSignature(TokenError):
    """The signature does not match the secret."""


class TokenExpired(TokenError):
    """The clock is past the token's "exp"."""


class TokenNotYetValid(TokenError):
    """The token's "nbf" is more than the leeway ahead of the clock."""


class InvalidClaims(TokenError):
    """The issuer is wrong, or sub, email or exp is missing or unusable."""


# Every refusal keldo_jwt_verify reports, in its check order.
_VERIFY_ERRORS: dict[str, type[KeldoError]] = {
    "jwt_verify: null secret or token": InvalidArgument,
    "jwt_verify: malformed token (missing first dot)": MalformedToken,
    "jwt_verify: malformed token (missing second dot)": MalformedToken,
    "jwt_verify: malformed token (extra segments)": MalformedToken,
    # A signature that cannot be one is a bad signature, as in the other
    # bindings.
    "jwt_verify: invalid signature format or length": BadSignature,
    "jwt_verify: signature verification failed": BadSignature,
    "jwt_verify: payload segment too long": MalformedToken,
    "jwt_verify: base64url decode payload failed": MalformedToken,
    "jwt_verify: invalid payload JSON": MalformedToken,
    "jwt_verify: payload root is not an object": MalformedToken,
    "jwt_verify: invalid or missing 'iss' claim": InvalidClaims,
    "jwt_verify: missing 'exp' claim": InvalidClaims,
    "jwt_verify: token has expired": TokenExpired,
    "jwt_verify: token is not valid yet (nbf in future)": TokenNotYetValid,
    "jwt_verify: missing 'sub' claim": InvalidClaims,
    "jwt_verify: invalid 'sub' claim": InvalidClaims,
    "jwt_verify: missing 'email' claim": InvalidClaims,
    "jwt_verify: invalid 'email' claim": InvalidClaims,
}


def verify_error(message: str) -> KeldoError:
    # A message this table does not know (the library's HMAC failure, or a
    # newer library's text) is still a refusal: never success.
    return _VERIFY_ERRORS.get(message, TokenError)(message)


_MINT_ERRORS: dict[str, type[KeldoError]] = {
    "jwt_mint: null parameter passed": InvalidArgument,
    "jwt_mint: failed to serialize payload JSON": InvalidArgument,
    "jwt_mint: failed to build payload JSON": KeldoError,
    "jwt_mint: failed to base64url encode payload": InvalidArgument,
}


def mint_error(message: str) -> KeldoError:
    # The arguments are checked before the library sees them, so these
    # refusals are not expected; out of memory and unknown texts stay
    # KeldoError.
    return _MINT_ERRORS.get(message, KeldoError)(message)
