"""HS256 tokens: the argument checks and the locked library call, in one
function each. These are the hot paths of a login service, so they use the
library's functions directly rather than through a second layer."""

from __future__ import annotations

import ctypes
from typing import Callable, NamedTuple

from . import _native
from ._checks import (MIN_SECRET_BYTES, Buffer, as_bytes, as_int, claim_bytes,
                      secret_bytes)
from ._errors import InvalidArgument, MalformedToken, mint_error, verify_error

UINT32_MAX = 0xFFFFFFFF
# The verifier refuses longer claims: its buffers hold 63 and 127 bytes.
MAX_SUB_BYTES = 63
MAX_EMAIL_BYTES = 127


class Claims(NamedTuple):
    """The claims of a verified token."""

    sub: str
    email: str
    exp: int


_make_claims = tuple.__new__  # Claims without its __new__'s argument handling

# The outputs of the two calls, used only under the lock. The byref()
# arguments are made once: ctypes passes them without building new ones.
_sub_out = ctypes.create_string_buffer(MAX_SUB_BYTES + 1)
_email_out = ctypes.create_string_buffer(MAX_EMAIL_BYTES + 1)
_exp_out = ctypes.c_int64()
_sub_arg = ctypes.byref(_sub_out)
_email_arg = ctypes.byref(_email_out)
_exp_arg = ctypes.byref(_exp_out)
_ttl = ctypes.c_uint32()

_acquire = _native.lock.acquire
_release = _native.lock.release
# Longer tokens (the header has no limit) are verified without the GIL, so a
# flood of them does not stop the other threads; shorter ones, up to a few
# microseconds of work, keep it (see _native).
_LONG_TOKEN = 16384


# The library's functions, bound on first use: until then each name holds a
# function that loads the library, binds them all and makes the call.
def _bind() -> None:
    global _mint, _verify, _verify_long, _last_error
    lib = _native.library()
    _last_error = lib.crypto_last_error
    _verify_long = lib.jwt_verify
    _mint = lib.jwt_mint_with_gil  # its inputs are at most a few hundred bytes
    _verify = lib.jwt_verify_with_gil


def _first_mint(*args: object) -> bytes | None:
    _bind()
    return _mint(*args)


def _first_verify(*args: object) -> int:
    _bind()
    return _verify(*args)


def _first_verify_long(*args: object) -> int:
    _bind()
    return _verify_long(*args)


def _first_last_error() -> bytes:
    return _native.library().crypto_last_error()


_mint: Callable[..., bytes | None] = _first_mint
_verify: Callable[..., int] = _first_verify
_verify_long: Callable[..., int] = _first_verify_long
_last_error: Callable[[], bytes] = _first_last_error


def jwt_mint(secret: str | Buffer, sub: str, email: str, ttl: int = 3600, *,
             allow_short_secret: bool = False) -> str:
    """An HS256 token for sub and email, valid from now for ttl seconds."""
    # "0 in data" tests for a NUL: with b"\0" bytes.__contains__ first
    # tries the needle as an integer and pays for a TypeError.
    if type(secret) is not bytes or len(secret) < MIN_SECRET_BYTES or 0 in secret:
        secret = secret_bytes("jwt_mint", secret, allow_short_secret)
    sub_b = claim_bytes("jwt_mint", sub, "sub", MAX_SUB_BYTES)
    email_b = claim_bytes("jwt_mint", email, "email", MAX_EMAIL_BYTES)
    if type(ttl) is not int or not 0 <= ttl <= UINT32_MAX:
        if not 0 <= as_int("jwt_mint", ttl, "ttl") <= UINT32_MAX:
            raise InvalidArgument(f"jwt_mint: ttl must be 0 to {UINT32_MAX} seconds")
    # The token is a process-wide buffer that the next mint overwrites:
    # ctypes copies it out (c_char_p result) before the lock is let go.
    _acquire()
    try:
        _ttl.value = ttl
        token = _mint(secret, sub_b, email_b, _ttl)
        if token is None:
            raise mint_error(_last_error().decode("ascii", "replace"))
    finally:
        _release()
    return token.decode("ascii")


def jwt_verify(secret: str | Buffer, token: str | bytes, *,
               allow_short_secret: bool = False) -> Claims:
    """The claims of token if it is signed with secret and valid now.

    Raises MalformedToken, BadSignature, TokenExpired, TokenNotYetValid or
    InvalidClaims (all TokenError) when it is not.
    """
    if type(secret) is not bytes or len(secret) < MIN_SECRET_BYTES or 0 in secret:
        secret = secret_bytes("jwt_verify", secret, allow_short_secret)
    if type(token) is str:
        try:
            tok = token.encode()
        except UnicodeEncodeError:
            raise MalformedToken("jwt_verify: malformed token (not text)") from None
    else:
        tok = as_bytes(token, "jwt_verify: token")
    # As C text the token would end at a NUL, and what follows be ignored.
    if 0 in tok:
        raise MalformedToken("jwt_verify: malformed token (NUL character)")
    _acquire()
    try:
        verify = _verify if len(tok) <= _LONG_TOKEN else _verify_long
        if verify(secret, tok, _sub_arg, _email_arg, _exp_arg) != 0:
            raise verify_error(_last_error().decode("ascii", "replace"))
        # The verifier hands out only whole claims of valid UTF-8.
        return _make_claims(Claims, (_sub_out.value.decode(), _email_out.value.decode(),
                                     _exp_out.value))
    finally:
        _release()
