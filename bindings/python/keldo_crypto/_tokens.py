"""HS256 tokens: the argument checks and the library call, in one function
each. These are the hot paths of a login service, so they call the compiled
module directly rather than through a second layer.

The library's reentrant token functions write only the caller's buffers
(on the C stack of each call), so there is no lock."""

from __future__ import annotations

import datetime
import functools
import re
from typing import TYPE_CHECKING, Callable, Iterator, Mapping, Union

from . import _ext, _native
from ._checks import (MIN_SECRET_BYTES, Buffer, as_bytes, as_int, claim_bytes,
                      secret_bytes)
from ._errors import InvalidArgument, KeldoError, MalformedToken

UINT32_MAX = 0xFFFFFFFF
# The verifier refuses longer claims: its buffers hold 63 and 127 bytes.
MAX_SUB_BYTES = 63
MAX_EMAIL_BYTES = 127
TOKEN_MAX = 2129  # KELDO_JWT_TOKEN_MAX: the longest token mint writes, NUL included

_KEYS = ("sub", "email", "exp")


class Claims(_ext.ClaimsBase, Mapping[str, Union[str, int]]):
    """The claims of a verified token, read as attributes (claims.sub) or as
    a mapping (claims["sub"], dict(claims)), as PyJWT's decode returns.
    claims.key is the position of the key that matched in a KeyRing (0 for
    a single secret or TokenKey); it is no claim, so the mapping leaves it out."""

    # The attributes are ClaimsBase's slots, which the verifier fills.
    __slots__ = ()
    sub: str
    email: str
    exp: int  # seconds since 1970-01-01 UTC
    key: int

    def __init__(self, sub: str, email: str, exp: int, key: int = 0) -> None:
        self.sub, self.email, self.exp, self.key = sub, email, exp, key

    def __getitem__(self, key: str) -> str | int:
        if key == "sub":
            return self.sub
        if key == "email":
            return self.email
        if key == "exp":
            return self.exp
        raise KeyError(key)

    def __iter__(self) -> Iterator[str]:
        return iter(_KEYS)

    def __len__(self) -> int:
        return 3

    def __repr__(self) -> str:
        return (f"Claims(sub={self.sub!r}, email={self.email!r}, exp={self.exp!r}, "
                f"key={self.key!r})")


class _KeyObject:
    """Base of TokenKey and KeyRing (_keys.py): what jwt_mint and jwt_verify
    take in place of a secret. _block is their prepared keys (an
    _ext.KeyBlock), None once closed."""

    __slots__ = ()
    _block: _ext.KeyBlock | None

    def _open_block(self) -> _ext.KeyBlock:
        block = self._block
        if block is None:
            raise InvalidArgument(f"{type(self).__name__}: closed")
        return block


# A host signs and verifies with one key: the last key of 32 bytes or more
# that passed the checks is remembered by _ext (keys under 32 bytes are
# checked on every call, for the opt-in).
def _checked_key(fn: str, secret: str | Buffer, allow_short: bool) -> bytes:
    key = secret_bytes(fn, secret, allow_short)
    if len(key) >= MIN_SECRET_BYTES and isinstance(secret, (bytes, str)):
        _ext.remember(secret, key)  # immutable: safe to keep
    return key


def _ttl_seconds(ttl: object) -> int:
    if isinstance(ttl, datetime.timedelta):
        if ttl.microseconds:
            raise InvalidArgument("jwt_mint: ttl must be whole seconds")
        seconds = ttl.days * 86400 + ttl.seconds
    else:
        seconds = as_int("jwt_mint", ttl, "ttl")
    if not 0 <= seconds <= UINT32_MAX:
        raise InvalidArgument(f"jwt_mint: ttl must be 0 to {UINT32_MAX} seconds")
    return seconds


def jwt_mint(secret: str | Buffer | _KeyObject, sub: str, email: str,
             ttl: int | datetime.timedelta = 3600, *, allow_short_secret: bool = False) -> str:
    """An HS256 token for sub and email, valid from now for ttl (seconds, or
    a timedelta of whole seconds). secret may be a TokenKey or a KeyRing,
    whose first key signs."""
    if isinstance(secret, _KeyObject):
        block: _ext.KeyBlock | None = secret._open_block()
    else:
        block = None
        key = _checked_key("jwt_mint", secret, allow_short_secret)
    sub_b = claim_bytes("jwt_mint", sub, "sub", MAX_SUB_BYTES)
    email_b = claim_bytes("jwt_mint", email, "email", MAX_EMAIL_BYTES)
    if type(ttl) is not int or not 0 <= ttl <= UINT32_MAX:
        ttl = _ttl_seconds(ttl)
    if block is not None:
        return _ext.mint_k(block, sub_b, email_b, ttl)
    return _ext.jwt_mint(key, sub_b, email_b, ttl)


# A compact JWS: three base64url segments (the signature may be empty).
_LOOKS_LIKE_TOKEN = re.compile(rb"[A-Za-z0-9_-]+\.[A-Za-z0-9_-]+\.[A-Za-z0-9_-]*\Z")


def _swapped(secret: bytes) -> InvalidArgument | None:
    """The error for jwt_verify(key, token), the order of earlier versions:
    what came as the key is a token while the token is malformed."""
    if _LOOKS_LIKE_TOKEN.match(secret):
        return InvalidArgument("jwt_verify: the arguments look swapped: the token comes "
                               "first, the key second (jwt_verify(token, key))")
    return None


def _malformed(message: str, secret: bytes) -> Exception:
    return _swapped(secret) or MalformedToken(message)


def jwt_verify(token: str | bytes | None, secret: str | Buffer | _KeyObject, *,
               allow_short_secret: bool = False) -> Claims:
    """The claims of token if it is signed with secret and valid now.

    The token comes first and the key second, as in PyJWT's decode. secret
    may be a TokenKey, or a KeyRing: then a token signed with any of its keys
    is accepted, and claims.key says which. Raises MalformedToken (also for a
    missing or empty token), BadSignature, TokenExpired, TokenNotYetValid or
    InvalidClaims (all TokenError) when it is not.
    """
    if isinstance(secret, _KeyObject):
        return _ext.verify_k(secret._open_block(), _token_text(token))
    key = _checked_key("jwt_verify", secret, allow_short_secret)
    if type(token) is str:
        try:
            tok = token.encode()
        except UnicodeEncodeError:
            raise _malformed("jwt_verify: malformed token (not text)", key) from None
    elif token is None:
        raise MalformedToken("jwt_verify: no token")
    else:
        tok = as_bytes(token, "jwt_verify: token")
    if not tok:
        raise MalformedToken("jwt_verify: no token")
    # As C text the token would end at a NUL, and what follows be ignored.
    if 0 in tok:
        raise _malformed("jwt_verify: malformed token (NUL character)", key)
    try:
        # Over 16 KiB the call lets other threads run.
        return _ext.jwt_verify(key, tok)
    except MalformedToken:
        swapped = _swapped(key)
        if swapped is None:
            raise
    raise swapped


def _token_text(token: str | bytes | None) -> bytes:
    """The token as the C text the library reads, with the refusals
    jwt_verify makes before calling it."""
    if type(token) is str:
        try:
            tok = token.encode()
        except UnicodeEncodeError:
            raise MalformedToken("jwt_verify: malformed token (not text)") from None
    elif token is None:
        raise MalformedToken("jwt_verify: no token")
    else:
        tok = as_bytes(token, "jwt_verify: token")
    if not tok:
        raise MalformedToken("jwt_verify: no token")
    if 0 in tok:
        raise MalformedToken("jwt_verify: malformed token (NUL character)")
    return tok


_ext.setup(_native.refusal, Claims, _native.library, KeldoError, _KeyObject)


def _compiled(checked: Callable[..., object], kind: str) -> Callable[..., object]:
    """checked as the compiled module calls it: the calls that need no more
    checks (the key is the one remembered, the other arguments plain str
    and int within their limits) are made in C; every other call, and any
    refusal that needs a second look, goes to checked itself, so its checks,
    errors and defaults are the only ones. It carries checked's name, text
    and signature."""
    return functools.update_wrapper(_ext.TokenCall(checked, kind), checked)


if not TYPE_CHECKING:
    jwt_mint = _compiled(jwt_mint, "mint")
    jwt_verify = _compiled(jwt_verify, "verify")
