"""Tokens against PyJWT, the argument checks, and each refusal's class."""


import base64
import datetime
import hashlib
import hmac
import json
import time

import jwt
import pytest

import keldo_crypto as kc
from conftest import SECRET


def pyjwt_token(claims: dict, secret: bytes = SECRET) -> str:
    return jwt.encode(claims, secret, algorithm="HS256")


def signed(payload: bytes, secret: bytes = SECRET, header: bytes = b'{"alg":"HS256"}') -> str:
    """A token over any payload bytes, signed with hmac as the oracle."""
    def seg(b):
        return base64.urlsafe_b64encode(b).rstrip(b"=").decode()
    head = seg(header) + "." + seg(payload)
    sig = hmac.new(secret, head.encode(), hashlib.sha256).digest()
    return head + "." + seg(sig)


def claims(**over):
    now = int(time.time())
    c = {"sub": "alice", "email": "alice@example.com", "iss": "keldo",
         "exp": now + 600, "nbf": now}
    c.update(over)
    return {k: v for k, v in c.items() if v is not None}


# ---- round trips --------------------------------------------------------------

@pytest.mark.parametrize("sub,email", [
    ("alice", "alice@example.com"),
    ("", ""),
    ("a/b\"c\\d\ne", "x+tag@example.org"),
    ("Zoë Ångström 日本", "δοκιμή@παράδειγμα.ελ"),
    ("😀" * 15 + "abc", "e" * 127),           # 63 UTF-8 bytes, 127 bytes
])
def test_minted_token_decodes_with_pyjwt(sub, email):
    before = int(time.time())
    token = kc.jwt_mint(SECRET, sub, email, 900)
    after = int(time.time())
    got = jwt.decode(token, SECRET, algorithms=["HS256"])
    assert set(got) == {"sub", "email", "iss", "exp", "nbf"}
    assert (got["sub"], got["email"], got["iss"]) == (sub, email, "keldo")
    assert before <= got["nbf"] <= after and got["exp"] == got["nbf"] + 900
    assert jwt.get_unverified_header(token) == {"alg": "HS256", "typ": "JWT"}
    assert kc.jwt_verify(token, SECRET) == {"sub": sub, "email": email, "exp": got["exp"]}


def test_pyjwt_token_verifies_and_claims_are_named():
    c = claims(sub="bob", email="bob@example.net", extra=[1, 2])
    got = kc.jwt_verify(pyjwt_token(c), SECRET)
    assert isinstance(got, kc.Claims)
    assert (got.sub, got.email, got.exp) == ("bob", "bob@example.net", c["exp"])
    # Read as PyJWT's decode result is read.
    assert (got["sub"], got["email"], got["exp"]) == ("bob", "bob@example.net", c["exp"])
    assert dict(got) == {k: c[k] for k in ("sub", "email", "exp")}
    assert list(got) == ["sub", "email", "exp"] and len(got) == 3
    assert got.get("iss") is None and "sub" in got and "iss" not in got
    with pytest.raises(KeyError):
        got["iss"]


def test_ttl_as_timedelta():
    for ttl, seconds in [(datetime.timedelta(minutes=15), 900),
                         (datetime.timedelta(days=2, seconds=1), 172801),
                         (datetime.timedelta(0), 0)]:
        got = jwt.decode(kc.jwt_mint(SECRET, "a", "b", ttl), SECRET, algorithms=["HS256"],
                         options={"verify_exp": False})
        assert got["exp"] - got["nbf"] == seconds
    for bad in (datetime.timedelta(seconds=1.5), datetime.timedelta(seconds=-1),
                datetime.timedelta(seconds=2**32)):
        with pytest.raises(kc.InvalidArgument, match="^jwt_mint: ttl"):
            kc.jwt_mint(SECRET, "a", "b", bad)


# Keys as secrets.token_bytes(32) makes them: about one in eight holds a NUL.
NUL_KEYS = [bytes(32), b"\0" + b"k" * 31, b"k" * 31 + b"\0", b"k" * 16 + b"\0" + b"k" * 16,
            bytes(range(256)), b"\0" * 64 + b"x" * 7]


@pytest.mark.parametrize("key", NUL_KEYS, ids=lambda k: f"{len(k)}B-nul@{k.index(0)}")
def test_keys_holding_nul_round_trip_with_pyjwt(key):
    ours = kc.jwt_mint(key, "nul", "nul@example.com", 60)
    assert jwt.decode(ours, key, algorithms=["HS256"])["sub"] == "nul"
    theirs = pyjwt_token(claims(sub="pyjwt"), key)
    assert kc.jwt_verify(theirs, key).sub == "pyjwt"
    # The bytes after the first NUL count: a key that differs only there is
    # another key. (Trailing NULs of a key under 64 bytes do not count, in
    # HMAC itself: it pads the key with zeros.)
    i = key.index(0)
    if i + 1 < len(key):
        other = key[:i + 1] + bytes([key[i + 1] ^ 1]) + key[i + 2:]
        with pytest.raises(kc.BadSignature):
            kc.jwt_verify(ours, other)
        with pytest.raises(kc.BadSignature):
            kc.jwt_verify(theirs, other)


@pytest.mark.parametrize("token", [None, "", b""])
def test_missing_token_is_malformed(token):
    # As PyJWT's DecodeError: a handler of token errors catches it.
    with pytest.raises(kc.MalformedToken, match="^jwt_verify: no token$"):
        kc.jwt_verify(token, SECRET)


def test_swapped_arguments_are_named():
    token = kc.jwt_mint(SECRET, "a", "b")
    for key in (SECRET, b"\0" * 32, "s" * 32):
        with pytest.raises(kc.InvalidArgument, match="arguments look swapped"):
            kc.jwt_verify(key, token)
    # A malformed token with a key that is no token stays a malformed token.
    with pytest.raises(kc.MalformedToken):
        kc.jwt_verify("no-dots", SECRET)


@pytest.mark.parametrize("ttl", [0, 1, 2**32 - 1])
def test_ttl_bounds(ttl):
    got = jwt.decode(kc.jwt_mint(SECRET, "a", "b", ttl), SECRET, algorithms=["HS256"],
                     options={"verify_exp": False})
    assert got["exp"] - got["nbf"] == ttl


def test_secret_as_text_is_its_utf8_bytes():
    secret = "κλειδί-" + "x" * 25
    token = kc.jwt_mint(secret, "a", "b")
    jwt.decode(token, secret.encode(), algorithms=["HS256"])
    assert kc.jwt_verify(token, secret.encode()).sub == "a"
    assert kc.jwt_verify(token, bytearray(secret.encode())).sub == "a"


def test_short_secret_only_when_asked():
    short = b"k" * 31
    token = kc.jwt_mint(short, "a", "b", allow_short_secret=True)
    assert jwt.decode(token, short, algorithms=["HS256"])["sub"] == "a"
    assert kc.jwt_verify(token, short, allow_short_secret=True).sub == "a"
    one = kc.jwt_mint(b"k", "a", "b", allow_short_secret=True)
    assert jwt.decode(one, b"k", algorithms=["HS256"])["sub"] == "a"


def test_long_secret_is_hashed_as_rfc2104_says():
    long_secret = bytes(range(1, 256)) * 2
    token = kc.jwt_mint(long_secret, "a", "b")
    assert jwt.decode(token, long_secret, algorithms=["HS256"])["sub"] == "a"


# ---- refused before the library sees them ---------------------------------

@pytest.mark.parametrize("call,message", [
    (lambda: kc.jwt_mint(b"", "a", "b", allow_short_secret=True), "jwt_mint: secret is empty"),
    (lambda: kc.jwt_mint(b"k" * 31, "a", "b"), "jwt_mint: secret is shorter than 32 bytes"),
    (lambda: kc.jwt_mint("k" * 31, "a", "b"), "jwt_mint: secret is shorter than 32 bytes"),
    (lambda: kc.jwt_mint("\ud800" * 32, "a", "b"), "jwt_mint: secret is not valid UTF-8"),
    (lambda: kc.jwt_mint(SECRET, "s" * 64, "b"), "jwt_mint: sub is longer than 63"),
    (lambda: kc.jwt_mint(SECRET, "é" * 32, "b"), "jwt_mint: sub is longer than 63"),
    (lambda: kc.jwt_mint(SECRET, "a", "e" * 128), "jwt_mint: email is longer than 127"),
    (lambda: kc.jwt_mint(SECRET, "a", "😀" * 32), "jwt_mint: email is longer than 127"),
    (lambda: kc.jwt_mint(SECRET, "a\0b", "b"), "jwt_mint: sub holds a NUL character"),
    (lambda: kc.jwt_mint(SECRET, "a", "b\0"), "jwt_mint: email holds a NUL character"),
    (lambda: kc.jwt_mint(SECRET, "\udc80", "b"), "jwt_mint: sub is not valid UTF-8"),
    (lambda: kc.jwt_mint(SECRET, "a", "b", -1), "jwt_mint: ttl must be 0 to 4294967295"),
    (lambda: kc.jwt_mint(SECRET, "a", "b", 2**32), "jwt_mint: ttl must be 0 to 4294967295"),
    (lambda: kc.jwt_verify("a.b.c", b"k" * 31), "jwt_verify: secret is shorter than 32 bytes"),
    (lambda: kc.jwt_verify("a.b.c", b"", allow_short_secret=True), "jwt_verify: secret is empty"),
])
def test_argument_refusals(call, message):
    with pytest.raises(kc.InvalidArgument) as e:
        call()
    assert str(e.value).startswith(message)
    assert isinstance(e.value, ValueError) and isinstance(e.value, kc.KeldoError)


def test_secret_with_nul_never_signs_with_its_prefix():
    # Were the key cut at its NUL, both would sign with b"prefix" alone.
    prefix = b"p" * 32
    with pytest.raises(kc.BadSignature):
        kc.jwt_verify(kc.jwt_mint(prefix, "a", "b"), prefix + b"\0more")


@pytest.mark.parametrize("call", [
    lambda: kc.jwt_mint(SECRET, b"alice", "b"),
    lambda: kc.jwt_mint(SECRET, "a", None),
    lambda: kc.jwt_mint(SECRET, "a", "b", 1.5),
    lambda: kc.jwt_mint(SECRET, "a", "b", True),
    lambda: kc.jwt_mint(12345, "a", "b"),
    lambda: kc.jwt_verify(42, SECRET),
])
def test_wrong_types(call):
    with pytest.raises(TypeError):
        call()


# ---- the library's refusals, each with its class and message ----------------

def _refusals():
    now = int(time.time())
    minted = kc.jwt_mint(SECRET, "alice", "alice@example.com")
    head, payload, sig = minted.split(".")
    other = b"o" * 32
    rows = [
        ("no dot", "abc", kc.MalformedToken, "jwt_verify: malformed token (missing first dot)"),
        ("one dot", "abc.def", kc.MalformedToken,
         "jwt_verify: malformed token (missing second dot)"),
        ("four segments", minted + ".x", kc.MalformedToken,
         "jwt_verify: malformed token (extra segments)"),
        ("NUL inside", minted + "\0.x", kc.MalformedToken,
         "jwt_verify: malformed token (NUL character)"),
        ("not text", minted[:-1] + "\udc80", kc.MalformedToken,
         "jwt_verify: malformed token (not text)"),
        ("empty signature", f"{head}.{payload}.", kc.BadSignature,
         "jwt_verify: invalid signature format or length"),
        ("short signature", f"{head}.{payload}.{sig[:42]}", kc.BadSignature,
         "jwt_verify: invalid signature format or length"),
        ("other secret", kc.jwt_mint(other, "a", "b"), kc.BadSignature,
         "jwt_verify: signature verification failed"),
        ("changed payload", f"{head}.{payload[:-2]}AA.{sig}", kc.BadSignature,
         "jwt_verify: signature verification failed"),
        ("PyJWT, other key", pyjwt_token(claims(), other), kc.BadSignature,
         "jwt_verify: signature verification failed"),
        ("payload too long", signed(b"{" + b" " * 1600 + b"}"), kc.MalformedToken,
         "jwt_verify: payload segment too long"),
        ("payload not JSON", signed(b"not json"), kc.MalformedToken,
         "jwt_verify: invalid payload JSON"),
        ("payload array", signed(b"[1,2]"), kc.MalformedToken,
         "jwt_verify: payload root is not an object"),
        ("iss other", pyjwt_token(claims(iss="KELDO")), kc.InvalidClaims,
         "jwt_verify: invalid or missing 'iss' claim"),
        ("iss missing", pyjwt_token(claims(iss=None)), kc.InvalidClaims,
         "jwt_verify: invalid or missing 'iss' claim"),
        ("exp missing", pyjwt_token(claims(exp=None)), kc.InvalidClaims,
         "jwt_verify: missing 'exp' claim"),
        ("exp real", signed(json.dumps(claims(exp=now + 600.5)).encode()), kc.InvalidClaims,
         "jwt_verify: missing 'exp' claim"),
        ("expired", pyjwt_token(claims(exp=now - 5)), kc.TokenExpired,
         "jwt_verify: token has expired"),
        ("not yet valid", pyjwt_token(claims(nbf=now + 3600)), kc.TokenNotYetValid,
         "jwt_verify: token is not valid yet (nbf in future)"),
        ("sub missing", pyjwt_token(claims(sub=None)), kc.InvalidClaims,
         "jwt_verify: missing 'sub' claim"),
        ("sub too long", pyjwt_token(claims(sub="s" * 64)), kc.InvalidClaims,
         "jwt_verify: invalid 'sub' claim"),
        ("email number", pyjwt_token(claims(email=7)), kc.InvalidClaims,
         "jwt_verify: missing 'email' claim"),
        ("email too long", pyjwt_token(claims(email="e" * 128)), kc.InvalidClaims,
         "jwt_verify: invalid 'email' claim"),
    ]
    return rows


@pytest.mark.parametrize("name,token,cls,message", _refusals(), ids=[r[0] for r in _refusals()])
def test_verify_refusals(name, token, cls, message):
    with pytest.raises(kc.TokenError) as e:
        kc.jwt_verify(token, SECRET)
    assert type(e.value) is cls
    assert str(e.value) == message
    assert isinstance(e.value, kc.KeldoError)


def test_token_as_bytes():
    token = kc.jwt_mint(SECRET, "a", "b")
    assert kc.jwt_verify(token.encode(), SECRET).sub == "a"
