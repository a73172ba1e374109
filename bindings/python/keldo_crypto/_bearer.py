"""What the web components share: where a bearer token is read from and how a
refusal is answered (RFC 6750), with no framework imported.

The token checks are the library's (through jwt_verify); this module only
finds the one token a request carries and maps each refusal to a status,
a challenge and a description that names the kind of refusal. A
description never holds any part of the token.
"""

from __future__ import annotations

import re
from typing import Any, Callable, Iterable, Optional, Sequence, Union

from ._keys import KeyRing, TokenKey
from ._errors import (BadSignature, InvalidArgument, MalformedToken, TokenError, TokenExpired,
                      TokenNotYetValid)
from ._tokens import Claims

__all__ = ["AuthFailure", "Keys", "MISSING", "authorization", "failure", "make_verifier"]

# What a component's keys= takes: a secret (str or bytes), a sequence of
# secrets or TokenKeys with the current one first, a TokenKey or a KeyRing.
Keys = Union[str, bytes, Sequence[Union[str, bytes, TokenKey]], TokenKey, KeyRing]

# RFC 6750 2.1: credentials = "Bearer" 1*SP b64token; the scheme is
# case-insensitive (RFC 7235 2.1). Field values arrive without the optional
# white space around them (RFC 7230 3.2), which some servers leave in:
# stripped before matching.
_BEARER = re.compile(r"(?i:bearer) +([A-Za-z0-9._~+/-]+=*)\Z")
_SCHEME = re.compile(r"[^ \t]*")


class AuthFailure(Exception):
    """A request refused before or at the token check.

    status: 401, or 400 for a malformed Authorization header;
    error: None (no credentials), "invalid_request" or "invalid_token";
    description: what was wrong, for people (never the token);
    challenge: the WWW-Authenticate value to send.
    """

    def __init__(self, status: int, error: Optional[str], description: str) -> None:
        super().__init__(description)
        self.status = status
        self.error = error
        self.description = description
        if error is None:
            self.challenge = "Bearer"
        else:
            self.challenge = f'Bearer error="{error}", error_description="{description}"'

    @property
    def headers(self) -> dict[str, str]:
        return {"WWW-Authenticate": self.challenge}


# The answers, as (status, error, description). Each refusal raises a new
# AuthFailure: a shared exception object would keep the last request's
# traceback (and the token in its frames) and be changed by every thread.
MISSING = (401, None, "no bearer token")
_MALFORMED_HEADER = (400, "invalid_request", "malformed Authorization header")
_TWO_HEADERS = (400, "invalid_request", "more than one Authorization header")

_BY_CLASS: tuple[tuple[type[TokenError], tuple[int, str, str]], ...] = (
    (TokenExpired, (401, "invalid_token", "token expired")),
    (TokenNotYetValid, (401, "invalid_token", "token not yet valid")),
    (BadSignature, (401, "invalid_token", "bad signature")),
    (MalformedToken, (401, "invalid_token", "malformed token")),
)
_INVALID_CLAIMS = (401, "invalid_token", "invalid claims")


def failure(error: TokenError) -> AuthFailure:
    """The answer to a token the library refused, by the kind of refusal."""
    for cls, answer in _BY_CLASS:
        if isinstance(error, cls):
            return AuthFailure(*answer)
    return AuthFailure(*_INVALID_CLAIMS)  # InvalidClaims, and any kind added later


def authorization(values: Iterable[str]) -> Optional[str]:
    """The token of a request's Authorization field values (every value the
    request sent under that name, in order), or None when it has no bearer
    credentials (no field, an empty one, or another scheme).

    Raises AuthFailure (400 invalid_request) for a field that names the
    Bearer scheme but is not "Bearer" 1*SP b64token, and for more than one
    Authorization field (which servers may also join with commas: that is
    not one token either).
    """
    found: Optional[str] = None
    count = 0
    for value in values:
        count += 1
        found = value
    if count == 0:
        return None
    if count > 1:
        raise AuthFailure(*_TWO_HEADERS)
    assert found is not None
    value = found.strip(" \t")
    m = _BEARER.match(value)
    if m is not None:
        return m.group(1)
    scheme = _SCHEME.match(value)
    if not value or scheme is None or scheme.group(0).lower() != "bearer":
        return None  # no credentials for this scheme (RFC 6750 3.1: no error code)
    raise AuthFailure(*_MALFORMED_HEADER)


def make_verifier(keys: Any, what: str) -> Callable[[str], Claims]:
    """token -> Claims for a component's keys=: a secret, a list of secrets
    or TokenKeys (current first), a TokenKey or a KeyRing. Secrets are
    prepared once, here, into a ring that lives as long as the component; a
    TokenKey or KeyRing given is used as it is (its owner closes it)."""
    if keys is None:
        raise InvalidArgument(f"{what}: keys= is required (a secret, or a list of them, current first)")
    if isinstance(keys, (KeyRing, TokenKey)):
        ring: Union[KeyRing, TokenKey] = keys
    elif isinstance(keys, (list, tuple)):
        ring = KeyRing(keys)
    else:
        ring = TokenKey(keys)
    return ring.verify


def check(values: Iterable[str], verifier: Callable[[str], Claims]) -> Claims:
    """The claims of the request whose Authorization values are given, or
    AuthFailure."""
    token = authorization(values)
    if token is None:
        raise AuthFailure(*MISSING)
    try:
        return verifier(token)
    except TokenError as e:
        raise failure(e) from None


def asgi_authorization(scope: Any) -> list[str]:
    """The Authorization values of an ASGI scope (names arrive in lower
    case, values as bytes of ISO 8859-1)."""
    return [value.decode("latin-1") for name, value in scope["headers"] if name == b"authorization"]
