"""The compiled module: jwt_verify and jwt_mint take the plain calls in C and
hand every other one to the Python functions that check everything, so each
call must come out exactly as the checked function alone answers it; long
calls run without the GIL."""

import datetime
import gc
import hashlib
import inspect
import sys
import threading
import time

import jwt
import pytest

import keldo_crypto as kc
from conftest import SECRET

checked_verify = kc.jwt_verify.__wrapped__
checked_mint = kc.jwt_mint.__wrapped__
CHECKED_CODE = {checked_verify.__code__, checked_mint.__code__}


def outcome(call):
    try:
        return ("ok", call())
    except Exception as e:  # noqa: BLE001  compared below
        return (type(e), str(e))


def checked_calls(call):
    """call()'s outcome, and how many times it ran a checked function."""
    seen = []

    def profile(frame, event, arg):
        if event == "call" and frame.f_code in CHECKED_CODE:
            seen.append(frame.f_code.co_name)
    sys.setprofile(profile)
    try:
        result = outcome(call)
    finally:
        sys.setprofile(None)
    return result, len(seen)


def remember(secret):
    # A checked call remembers a key of 32 bytes or more.
    checked_verify(kc.jwt_mint(secret, "r", "r@example.com"), secret)


NOW = int(time.time())
BASE = {"sub": "s", "email": "e@example.com", "iss": "keldo", "exp": NOW + 600, "nbf": NOW}


def pyjwt(secret=SECRET, headers=None, **over):
    return jwt.encode({**BASE, **over}, secret, algorithm="HS256", headers=headers)


GOOD = pyjwt()
OTHER_KEY = b"o" * 32

# (name, args, kwargs, whether C takes it alone with SECRET remembered: True,
# False when it goes to the checked function, None when Python refuses the
# arguments before either runs)
VERIFY_CASES = [
    ("str token", (GOOD, SECRET), {}, True),
    ("bytes token", (GOOD.encode(), SECRET), {}, True),
    ("allow_short_secret given", (GOOD, SECRET), {"allow_short_secret": True}, True),
    ("expired", (pyjwt(exp=NOW - 10), SECRET), {}, True),
    ("not yet valid", (pyjwt(nbf=NOW + 999), SECRET), {}, True),
    ("wrong issuer", (pyjwt(iss="other"), SECRET), {}, True),
    ("no email", (pyjwt(email=None), SECRET), {}, True),
    ("bad signature", (pyjwt(OTHER_KEY), SECRET), {}, True),
    ("signature not 32 bytes", (GOOD[:-4], SECRET), {}, True),
    ("long token", (pyjwt(headers={"pad": "x" * 20000}), SECRET), {}, True),
    # Malformed: the checked function looks for swapped arguments.
    ("malformed", ("abc", SECRET), {}, False),
    ("two segments", ("a.b", SECRET), {}, False),
    ("empty", ("", SECRET), {}, False),
    ("None", (None, SECRET), {}, False),
    ("NUL inside", (GOOD + "\0x", SECRET), {}, False),
    ("not text", ("\udcff" + GOOD, SECRET), {}, False),
    ("bytearray token", (bytearray(GOOD.encode()), SECRET), {}, False),
    ("memoryview token", (memoryview(GOOD.encode()), SECRET), {}, False),
    ("int token", (42, SECRET), {}, False),
    ("token as keyword", (), {"token": GOOD, "secret": SECRET}, False),
    ("unknown keyword", (GOOD, SECRET), {"leeway": 5}, None),
    ("one argument", (GOOD,), {}, None),
    ("three arguments", (GOOD, SECRET, True), {}, None),
    ("a key not remembered", (pyjwt(OTHER_KEY), OTHER_KEY + b"!"), {}, False),
    ("short key", (pyjwt(b"short"), b"short"), {"allow_short_secret": True}, False),
    ("short key refused", (pyjwt(b"short"), b"short"), {}, False),
]


@pytest.mark.parametrize("name, args, kwargs, fast", VERIFY_CASES,
                         ids=[c[0] for c in VERIFY_CASES])
def test_verify_answers_as_the_checked_function(name, args, kwargs, fast):
    remember(SECRET)
    got, checked = checked_calls(lambda: kc.jwt_verify(*args, **kwargs))
    remember(SECRET)
    want = outcome(lambda: checked_verify(*args, **kwargs))
    if want[0] == "ok":
        assert got[0] == "ok" and type(got[1]) is kc.Claims
        assert dict(got[1]) == dict(want[1])
    else:
        assert got == want
    if fast is not None:
        assert checked == (0 if fast else 1)


def test_swapped_arguments_are_named_through_the_compiled_call():
    token = kc.jwt_mint(SECRET, "a", "b")
    remember(token)  # the token, passed as the key, is remembered too
    with pytest.raises(kc.InvalidArgument, match="the arguments look swapped"):
        kc.jwt_verify(SECRET, token)


def decoded(token, secret):
    claims = jwt.decode(token, secret, algorithms=["HS256"], issuer="keldo",
                        options={"verify_exp": False})
    return claims["sub"], claims["email"], claims["exp"] - claims["nbf"]


# (name, args, kwargs, fast, ttl the token must have)
MINT_CASES = [
    ("default ttl", (SECRET, "s", "e@example.com"), {}, True, 3600),
    ("ttl positional", (SECRET, "s", "e@example.com", 60), {}, True, 60),
    ("ttl keyword", (SECRET, "s", "e@example.com"), {"ttl": 61}, True, 61),
    ("ttl 0", (SECRET, "s", "e@example.com", 0), {}, True, 0),
    ("ttl 2**32 - 1", (SECRET, "s", "e@example.com", 2**32 - 1), {}, True, 2**32 - 1),
    ("sub of 63 bytes", (SECRET, "é" * 31 + "x", "e"), {}, True, 3600),
    ("email of 127 bytes", (SECRET, "s", "€" * 42 + "x"), {}, True, 3600),
    ("allow_short_secret given", (SECRET, "s", "e", 5), {"allow_short_secret": True}, True, 5),
    ("ttl timedelta", (SECRET, "s", "e"), {"ttl": datetime.timedelta(minutes=2)}, False, 120),
    ("ttl timedelta, part seconds", (SECRET, "s", "e", datetime.timedelta(seconds=1.5)), {},
     False, None),
    ("ttl negative", (SECRET, "s", "e", -1), {}, False, None),
    ("ttl 2**32", (SECRET, "s", "e", 2**32), {}, False, None),
    ("ttl 2**64", (SECRET, "s", "e", 2**64), {}, False, None),
    ("ttl True", (SECRET, "s", "e", True), {}, False, None),
    ("ttl float", (SECRET, "s", "e", 60.0), {}, False, None),
    ("ttl twice", (SECRET, "s", "e", 60), {"ttl": 60},None, None),
    ("sub of 64 bytes", (SECRET, "é" * 32, "e"), {}, False, None),
    ("email of 128 bytes", (SECRET, "s", "€" * 42 + "xy"), {}, False, None),
    ("NUL in sub", (SECRET, "a\0b", "e"), {}, False, None),
    ("sub not text", (SECRET, "\udcff", "e"), {}, False, None),
    ("sub bytes", (SECRET, b"s", "e"), {}, False, None),
    ("email None", (SECRET, "s", None), {}, False, None),
    ("unknown keyword", (SECRET, "s", "e"), {"iss": "x"},None, None),
    ("two arguments", (SECRET, "s"), {},None, None),
    ("a key not remembered", (OTHER_KEY + b"?", "s", "e"), {}, False, 3600),
]


@pytest.mark.parametrize("name, args, kwargs, fast, ttl", MINT_CASES,
                         ids=[c[0] for c in MINT_CASES])
def test_mint_answers_as_the_checked_function(name, args, kwargs, fast, ttl):
    remember(SECRET)
    got, checked = checked_calls(lambda: kc.jwt_mint(*args, **kwargs))
    remember(SECRET)
    want = outcome(lambda: checked_mint(*args, **kwargs))
    if want[0] == "ok":
        assert got[0] == "ok"
        # PyJWT reads both the same way, with the ttl asked for.
        assert decoded(got[1], args[0]) == decoded(want[1], args[0]) == (args[1], args[2], ttl)
    else:
        assert got == want
        assert ttl is None
    if fast is not None:
        assert checked == (0 if fast else 1)


def test_the_compiled_calls_carry_the_checked_functions_name_and_signature():
    for compiled, checked in ((kc.jwt_verify, checked_verify), (kc.jwt_mint, checked_mint)):
        assert inspect.signature(compiled) == inspect.signature(checked)
        assert (compiled.__name__, compiled.__doc__) == (checked.__name__, checked.__doc__)


def test_claims_from_the_verifier_are_claims():
    claims = kc.jwt_verify(kc.jwt_mint(SECRET, "user-42", "ada@example.org", 60), SECRET)
    assert type(claims) is kc.Claims and gc.is_tracked(claims)
    assert (claims.sub, claims["email"], sorted(claims)) == ("user-42", "ada@example.org",
                                                             ["email", "exp", "sub"])
    assert repr(claims).startswith("Claims(sub='user-42', email='ada@example.org', exp=")
    made = kc.Claims("user-42", "ada@example.org", claims.exp)
    assert dict(made) == dict(claims)
    with pytest.raises(AttributeError):
        claims.other = 1  # no __dict__: the attributes are the claims


def test_replacing_the_remembered_key_while_long_tokens_verify_without_the_gil():
    # Long tokens are verified with the GIL released, on a copy of the
    # remembered key; the other thread keeps replacing it.
    long_token = pyjwt(headers={"pad": "y" * 40000})
    other = b"p" * 40
    stop = threading.Event()
    errors = []

    def churn():
        token = kc.jwt_mint(other, "o", "o@example.com")
        while not stop.is_set():
            if kc.jwt_verify(token, other).sub != "o":
                errors.append("other key's claims")

    t = threading.Thread(target=churn)
    t.start()
    try:
        for _ in range(300):
            if kc.jwt_verify(long_token, SECRET).sub != "s":
                errors.append("long token's claims")
            with pytest.raises(kc.BadSignature):
                kc.jwt_verify(long_token, other)
    finally:
        stop.set()
        t.join()
    assert not errors, errors[:3]


BIG = b"\x5a" * (48 << 20)
STORED = kc.hash_password("pw", iterations=1_000_000)
LONG_CALLS = [
    ("pbkdf2_sha256", lambda: kc.pbkdf2_sha256(b"pw", b"salt", 1_000_000),
     lambda: hashlib.pbkdf2_hmac("sha256", b"pw", b"salt", 1_000_000)),
    ("hash_password", lambda: kc.verify_password("pw", kc.hash_password("pw", iterations=1_000_000)),
     lambda: True),
    ("verify_password", lambda: kc.verify_password("pw", STORED), lambda: True),
    ("sha256, 48 MiB", lambda: kc.sha256(BIG), lambda: hashlib.sha256(BIG).digest()),
    ("hmac_sha256, 48 MiB", lambda: kc.hmac_sha256(b"k", BIG),
     lambda: __import__("hmac").digest(b"k", BIG, "sha256")),
]


@pytest.mark.parametrize("name, call, peer", LONG_CALLS, ids=[c[0] for c in LONG_CALLS])
def test_long_calls_let_other_threads_run(name, call, peer):
    window, result = [], []

    def run():
        start = time.perf_counter()
        result.append(call())
        window.extend((start, time.perf_counter()))

    t = threading.Thread(target=run)
    ticks = []
    t.start()
    while t.is_alive():
        ticks.append(time.perf_counter())
    t.join()
    assert result == [peer()]
    start, end = window
    inside = [start] + [x for x in ticks if start < x < end] + [end]
    # Holding the GIL, the call would stop this thread for all its length.
    longest_stop = max(b - a for a, b in zip(inside, inside[1:]))
    assert longest_stop < 0.5 * (end - start), (longest_stop, end - start)


def test_the_benchmark_times_a_call_that_succeeds():
    from keldo_crypto import _ext
    token = kc.jwt_mint(SECRET, "s", "e").encode()
    assert _ext.c_time("verify", 10, SECRET, token) > 0
    with pytest.raises(ValueError, match="does not verify"):
        _ext.c_time("verify", 10, OTHER_KEY, token)
    assert _ext.c_time("mint", 10, SECRET, b"s", b"e", 60) > 0


RING_SECRETS = [b"ring-current-" + b"c" * 20, b"ring-previous-" + b"p" * 20]


def key_objects():
    key = kc.TokenKey(RING_SECRETS[0])
    ring = kc.KeyRing([RING_SECRETS[0], kc.TokenKey(RING_SECRETS[1])])
    closed = kc.TokenKey(RING_SECRETS[0])
    closed.close()
    return {"key": key, "ring": ring, "closed": closed}


# (name, which key object, token or call, whether C takes it alone)
KEY_CASES = [
    ("key, current", "key", lambda: pyjwt(RING_SECRETS[0]), True),
    ("ring, current", "ring", lambda: pyjwt(RING_SECRETS[0]), True),
    ("ring, previous", "ring", lambda: pyjwt(RING_SECRETS[1]), True),
    ("ring, retired", "ring", lambda: pyjwt(b"retired" * 5), True),
    ("ring, expired", "ring", lambda: pyjwt(RING_SECRETS[1], exp=NOW - 9), True),
    ("ring, malformed", "ring", lambda: "a.b", True),
    ("ring, bytes token", "ring", lambda: pyjwt(RING_SECRETS[1]).encode(), True),
    ("ring, no token", "ring", lambda: None, False),
    ("ring, NUL", "ring", lambda: pyjwt(RING_SECRETS[0]) + "\0", False),
    ("closed key", "closed", lambda: pyjwt(RING_SECRETS[0]), False),
]


@pytest.mark.parametrize("name, which, token, fast", KEY_CASES, ids=[c[0] for c in KEY_CASES])
def test_key_objects_answer_as_the_checked_function(name, which, token, fast):
    keys = key_objects()
    got, checked = checked_calls(lambda: kc.jwt_verify(token(), keys[which]))
    want = outcome(lambda: checked_verify(token(), keys[which]))
    if want[0] == "ok":
        assert got[0] == "ok"
        assert (dict(got[1]), got[1].key) == (dict(want[1]), want[1].key)
    else:
        assert got == want
    assert checked == (0 if fast else 1)
    got, checked = checked_calls(lambda: kc.jwt_mint(keys[which], "m", "m@example.com", 30))
    want = outcome(lambda: checked_mint(keys[which], "m", "m@example.com", 30))
    if want[0] == "ok":
        assert decoded(got[1], RING_SECRETS[0]) == decoded(want[1], RING_SECRETS[0])
    else:
        assert got == want
    assert checked == (0 if which != "closed" else 1)


def test_the_build_names_what_it_lacks_before_building(tmp_path):
    # With nothing on PATH: no compiler, and (from a checkout, where the
    # library is built and bundled) none of the tools for that either.
    import os
    import subprocess
    here = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    env = {k: v for k, v in os.environ.items()
           if k not in ("CC", "KELDO_CRYPTO_NATIVE_DIR", "KELDO_CRYPTO_BUNDLE")}
    env.update(PATH=str(tmp_path), KELDO_CRYPTO_INCLUDE_DIR=str(tmp_path))
    r = subprocess.run([sys.executable, "setup.py", "-q", "build_ext", "--build-temp",
                        str(tmp_path / "t"), "--build-lib", str(tmp_path / "l")],
                       cwd=here, env=env, capture_output=True, text=True, timeout=120)
    assert r.returncode != 0
    assert "keldo-crypto: cannot build the package; missing: " in r.stderr, r.stderr[-2000:]
    assert "a C compiler" in r.stderr
    top = os.path.join(here, "..", "..")
    in_checkout = all(os.path.isfile(os.path.join(top, f))
                      for f in ("CMakeLists.txt", "scripts/bundle-native"))
    for tool in ("cmake", "patchelf", "readelf"):
        assert (f"{tool} (Debian:" in r.stderr) == in_checkout
    assert not (tmp_path / "l").exists()
