"""Prepared token keys and key rings.

A TokenKey holds the library's prepared form of a secret (its keyed HMAC
states, not the secret): made once at start-up, it signs and checks tokens
without deriving them again on every call. A KeyRing holds several, the
current key first, so that a secret can be replaced without refusing the
tokens already issued: the library tries the keys in order and moves on
only after a bad signature.

Both are read-only once made, so any number of threads use one at once
with no lock. close() (or leaving a with block) wipes the key states;
afterwards every use is refused. Close only when no other thread is using it.
"""

from __future__ import annotations

import ctypes
import datetime
from typing import Iterable, Sequence, Union

from . import _native
from ._checks import secret_bytes
from ._errors import InvalidArgument, TypeError
from ._tokens import (_LONG_TOKEN, _NO_SIZE, _TOKEN_MAX, Claims, _KeyObject, jwt_mint,
                      jwt_verify)

KEY_SIZE = 128  # KELDO_JWT_KEY_SIZE
KEYS_MAX = 16   # KELDO_JWT_KEYS_MAX

SecretLike = Union[str, bytes, bytearray, memoryview]


def _prepare(into: ctypes.Array[ctypes.c_char], offset: int, fn: str, secret: SecretLike,
             allow_short: bool) -> None:
    key = secret_bytes(fn, secret, allow_short)
    rc = _native.library().jwt_key_init(ctypes.byref(into, offset), key, len(key))
    if rc != 0:
        raise _native.refusal(rc)


class _Keys(_KeyObject):
    """n prepared keys in one block of memory, as the library reads a ring."""

    __slots__ = ("_block", "_count", "__weakref__")

    _block: ctypes.Array[ctypes.c_char] | None
    _count: int

    def _open_block(self) -> ctypes.Array[ctypes.c_char]:
        block = self._block
        if block is None:
            raise InvalidArgument(f"{type(self).__name__}: closed")
        return block

    def _mint(self, sub: bytes, email: bytes, ttl: int, token_arg: object) -> int:
        lib = _native.library()
        return int(lib.jwt_mint_k_with_gil(self._open_block(), sub, email, ctypes.c_uint32(ttl),
                                           token_arg, _TOKEN_MAX, _NO_SIZE))

    def _verify(self, tok: bytes, sub_arg: object, email_arg: object, exp_arg: object,
                index_arg: object) -> int:
        lib = _native.library()
        # As with a plain secret: long tokens without the GIL.
        fn = lib.jwt_verify_k_with_gil if len(tok) <= _LONG_TOKEN else lib.jwt_verify_k
        return int(fn(self._open_block(), ctypes.c_uint32(self._count), tok, sub_arg, email_arg,
                      exp_arg, index_arg))

    def mint(self, sub: str, email: str, ttl: int | datetime.timedelta = 3600) -> str:
        """A token for sub and email signed with the first key (the current one)."""
        return jwt_mint(self, sub, email, ttl)

    def verify(self, token: str | bytes | None) -> Claims:
        """The claims of token if a key signed it and it is valid now;
        claims.key is the matching key's position."""
        return jwt_verify(token, self)

    def close(self) -> None:
        """Wipes the key states; every later use is refused."""
        block, self._block = self._block, None
        if block is not None:
            lib = _native.library()
            for i in range(self._count):
                lib.jwt_key_wipe(ctypes.byref(block, i * KEY_SIZE))

    @property
    def closed(self) -> bool:
        return self._block is None

    def __enter__(self) -> "_Keys":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:  # interpreter shutdown: the library may be gone
            pass


class TokenKey(_Keys):
    """One prepared token key: TokenKey(secret) with secret as jwt_mint takes
    it (str as UTF-8, or bytes; 32 bytes or more unless allow_short_secret)."""

    __slots__ = ()

    def __init__(self, secret: SecretLike, *, allow_short_secret: bool = False) -> None:
        self._block = None
        self._count = 1
        block = ctypes.create_string_buffer(KEY_SIZE)
        _prepare(block, 0, "TokenKey", secret, allow_short_secret)
        self._block = block

    def __repr__(self) -> str:
        return f"TokenKey({'closed' if self.closed else 'ready'})"


class KeyRing(_Keys):
    """The keys a service accepts, the current one first: KeyRing([current,
    previous]), each a secret or a TokenKey (copied in; closing the ring does
    not close it). jwt_mint(ring, ...) signs with the first key;
    jwt_verify(token, ring) accepts a token under any of them, and
    claims.key tells which, so that a token under an older key can be
    replaced by one under the current key."""

    __slots__ = ()

    def __init__(self, keys: Iterable[SecretLike | TokenKey], *,
                 allow_short_secret: bool = False) -> None:
        self._block = None
        self._count = 0
        if isinstance(keys, (str, bytes, bytearray, memoryview, TokenKey)):
            raise TypeError("KeyRing: give a list of keys, current first")
        items: Sequence[SecretLike | TokenKey] = list(keys)
        if not 1 <= len(items) <= KEYS_MAX:
            raise InvalidArgument(f"KeyRing: 1 to {KEYS_MAX} keys, not {len(items)}")
        block = ctypes.create_string_buffer(KEY_SIZE * len(items))
        try:
            for i, item in enumerate(items):
                if isinstance(item, TokenKey):
                    ctypes.memmove(ctypes.byref(block, i * KEY_SIZE), item._open_block(),
                                   KEY_SIZE)
                else:
                    _prepare(block, i * KEY_SIZE, "KeyRing", item, allow_short_secret)
        except BaseException:
            lib = _native.library()
            for i in range(len(items)):
                lib.jwt_key_wipe(ctypes.byref(block, i * KEY_SIZE))
            raise
        self._block, self._count = block, len(items)

    def __len__(self) -> int:
        return self._count

    def __repr__(self) -> str:
        return f"KeyRing({self._count} keys{', closed' if self.closed else ''})"
