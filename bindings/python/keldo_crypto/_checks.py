"""Argument checks shared by the public functions."""

from __future__ import annotations

import builtins
from typing import Union

from ._errors import InvalidArgument, TypeError

Buffer = Union[bytes, bytearray, memoryview]

# RFC 7518 3.2 asks for at least the hash size; newer PyJWT warns below it.
MIN_SECRET_BYTES = 32


def as_bytes(value: object, what: str) -> bytes:
    if type(value) is bytes:
        return value
    if isinstance(value, str):
        raise TypeError(f"{what} must be bytes, not str")
    try:
        view = memoryview(value)  # type: ignore[arg-type]
    except builtins.TypeError:
        raise TypeError(f"{what} must be bytes-like, not {type(value).__name__}") from None
    return view.tobytes()


def text_or_bytes(value: str | Buffer, what: str) -> bytes:
    if isinstance(value, str):
        try:
            return value.encode("utf-8")
        except UnicodeEncodeError:
            raise InvalidArgument(f"{what} is not valid UTF-8 text") from None
    return as_bytes(value, what)


def secret_bytes(fn: str, secret: str | Buffer, allow_short: bool) -> bytes:
    """Any bytes (NUL included: the library takes the secret with its
    length); empty is refused, and under 32 bytes only when asked for."""
    key = text_or_bytes(secret, f"{fn}: secret")
    if not key:
        raise InvalidArgument(f"{fn}: secret is empty")
    if len(key) < MIN_SECRET_BYTES and not allow_short:
        raise InvalidArgument(f"{fn}: secret is shorter than {MIN_SECRET_BYTES} bytes "
                              "(pass allow_short_secret=True to use it anyway)")
    return key


# Tests for a NUL are written "0 in data": with b"\0" bytes.__contains__
# first tries the needle as an integer and pays for a TypeError.

def claim_bytes(fn: str, value: str, name: str, limit: int) -> bytes:
    if type(value) is not str and not isinstance(value, str):
        raise TypeError(f"{fn}: {name} must be str")
    try:
        data = value.encode()
    except UnicodeEncodeError:
        raise InvalidArgument(f"{fn}: {name} is not valid UTF-8 text") from None
    if 0 in data:
        raise InvalidArgument(f"{fn}: {name} holds a NUL character")
    if len(data) > limit:
        raise InvalidArgument(f"{fn}: {name} is longer than {limit} UTF-8 bytes")
    return data


def ascii_text(fn: str, text: str | bytes, what: str) -> bytes:
    data = text.encode("utf-8", "surrogatepass") if isinstance(text, str) else as_bytes(text, what)
    if not data.isascii():
        raise InvalidArgument(f"{fn}: {what} holds a non-ASCII character")
    if 0 in data:
        raise InvalidArgument(f"{fn}: {what} holds a NUL character")
    return data


def as_int(fn: str, value: object, name: str) -> int:
    if not isinstance(value, int) or isinstance(value, bool):
        raise TypeError(f"{fn}: {name} must be int")
    return value
