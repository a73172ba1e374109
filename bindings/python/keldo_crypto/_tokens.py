"""HS256 tokens: the argument checks and the library call, in one function
each. These are the hot paths of a login service, so they use the library's
functions directly rather than through a second layer.

The library's reentrant token functions write only the caller's buffers, so
there is no lock: each thread has its own output buffers."""

from __future__ import annotations

import ctypes
import datetime
import re
import threading
from typing import Callable, Iterator, Mapping, Union

from . import _native
from ._checks import (MIN_SECRET_BYTES, Buffer, as_bytes, as_int, claim_bytes,
                      secret_bytes)
from ._errors import KIND_MALFORMED, InvalidArgument, MalformedToken

UINT32_MAX = 0xFFFFFFFF
# The verifier refuses longer claims: its buffers hold 63 and 127 bytes.
MAX_SUB_BYTES = 63
MAX_EMAIL_BYTES = 127
TOKEN_MAX = 2129  # KELDO_JWT_TOKEN_MAX: the longest token mint writes, NUL included

_KEYS = ("sub", "email", "exp")


class Claims(Mapping[str, Union[str, int]]):
    """The claims of a verified token, read as attributes (claims.sub) or as
    a mapping (claims["sub"], dict(claims)), as PyJWT's decode returns.
    claims.key is the position of the key that matched in a KeyRing (0 for
    a single secret or TokenKey); it is no claim, so the mapping leaves it out."""

    __slots__ = (*_KEYS, "key")
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


_new_claims = object.__new__


class _Buffers(threading.local):
    """Each thread's output buffers and the byref() arguments for them, made
    once (ctypes passes them without building new ones), in one tuple: one
    look-up of the thread's copy per call."""

    def __init__(self) -> None:
        sub = ctypes.create_string_buffer(MAX_SUB_BYTES + 1)
        email = ctypes.create_string_buffer(MAX_EMAIL_BYTES + 1)
        exp = ctypes.c_int64()
        token = ctypes.create_string_buffer(TOKEN_MAX)
        self.verify = (sub, email, exp, ctypes.byref(sub), ctypes.byref(email), ctypes.byref(exp))
        self.mint = (token, ctypes.byref(token))
        index = ctypes.c_uint32()
        self.index = (index, ctypes.byref(index))


_out = _Buffers()


class _KeyObject:
    """Base of TokenKey and KeyRing (_keys.py): what jwt_mint and jwt_verify
    take in place of a secret."""

    __slots__ = ()

    def _mint(self, sub: bytes, email: bytes, ttl: int, token_arg: object) -> int:
        raise NotImplementedError

    def _verify(self, tok: bytes, sub_arg: object, email_arg: object, exp_arg: object,
                index_arg: object) -> int:
        raise NotImplementedError
_TOKEN_MAX = ctypes.c_uint64(TOKEN_MAX)
_NO_SIZE = None

# A host signs and verifies with one key: the last key of 32 bytes or more
# is kept with its length as the C type the call takes (keys under 32 bytes
# are checked on every call, for the opt-in). Replaced as one tuple, so a
# thread never sees one key with another's length.
_key: tuple[object, bytes, ctypes.c_uint64] = (None, b"", ctypes.c_uint64(0))


def _checked_key(fn: str, secret: str | Buffer, allow_short: bool) -> tuple[bytes, ctypes.c_uint64]:
    global _key
    key = secret_bytes(fn, secret, allow_short)
    length = ctypes.c_uint64(len(key))
    if len(key) >= MIN_SECRET_BYTES and isinstance(secret, (bytes, str)):
        _key = (secret, key, length)  # immutable: safe to keep
    return key, length


# Longer tokens (the header has no limit) are verified without the GIL, so a
# flood of them does not stop the other threads; shorter ones, up to a few
# microseconds of work, keep it (see _native).
_LONG_TOKEN = 16384


# The library's functions, bound on first use: until then each name holds a
# function that loads the library, binds them all and makes the call.
def _bind() -> None:
    global _mint, _verify, _verify_long
    lib = _native.library()
    _verify_long = lib.jwt_verify_r
    _mint = lib.jwt_mint_r_with_gil  # its inputs are at most a few hundred bytes
    _verify = lib.jwt_verify_r_with_gil


def _first_mint(*args: object) -> int:
    _bind()
    return _mint(*args)


def _first_verify(*args: object) -> int:
    _bind()
    return _verify(*args)


def _first_verify_long(*args: object) -> int:
    _bind()
    return _verify_long(*args)


_mint: Callable[..., int] = _first_mint
_verify: Callable[..., int] = _first_verify
_verify_long: Callable[..., int] = _first_verify_long


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
        key_object: _KeyObject | None = secret
    else:
        key_object = None
        cached = _key
        if secret is cached[0]:
            key, key_len = cached[1], cached[2]
        else:
            key, key_len = _checked_key("jwt_mint", secret, allow_short_secret)
    sub_b = claim_bytes("jwt_mint", sub, "sub", MAX_SUB_BYTES)
    email_b = claim_bytes("jwt_mint", email, "email", MAX_EMAIL_BYTES)
    if type(ttl) is not int or not 0 <= ttl <= UINT32_MAX:
        ttl = _ttl_seconds(ttl)
    token, token_arg = _out.mint
    if key_object is not None:
        rc = key_object._mint(sub_b, email_b, ttl, token_arg)
    else:
        rc = _mint(key, key_len, sub_b, email_b, ctypes.c_uint32(ttl), token_arg, _TOKEN_MAX,
                   _NO_SIZE)
    if rc != 0:
        raise _native.refusal(rc)
    return token.value.decode("ascii")


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
        return _verify_with(secret, token)
    cached = _key
    if secret is cached[0]:
        key, key_len = cached[1], cached[2]
    else:
        key, key_len = _checked_key("jwt_verify", secret, allow_short_secret)
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
    sub, email, exp, sub_arg, email_arg, exp_arg = _out.verify
    if len(tok) <= _LONG_TOKEN:
        rc = _verify(key, key_len, tok, sub_arg, email_arg, exp_arg)
    else:
        rc = _verify_long(key, key_len, tok, sub_arg, email_arg, exp_arg)
    if rc != 0:
        error = _native.refusal(rc)
        if -rc // 100 == KIND_MALFORMED:
            raise _swapped(key) or error
        raise error
    # The verifier hands out only whole claims of valid UTF-8.
    claims = _new_claims(Claims)
    claims.sub = sub.value.decode()
    claims.email = email.value.decode()
    claims.exp = exp.value
    claims.key = 0
    return claims


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


def _verify_with(key_object: _KeyObject, token: str | bytes | None) -> Claims:
    tok = _token_text(token)
    sub, email, exp, sub_arg, email_arg, exp_arg = _out.verify
    index, index_arg = _out.index
    rc = key_object._verify(tok, sub_arg, email_arg, exp_arg, index_arg)
    if rc != 0:
        raise _native.refusal(rc)
    claims = _new_claims(Claims)
    claims.sub = sub.value.decode()
    claims.email = email.value.decode()
    claims.exp = exp.value
    claims.key = index.value
    return claims
