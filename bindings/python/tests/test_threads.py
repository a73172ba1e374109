"""Many threads at once, with no lock anywhere: no token mixed up between
threads, every refusal with its own message, PBKDF2 without the GIL."""

import hashlib
import os
import threading
import time

import jwt
import pytest

import keldo_crypto as kc
from conftest import SECRET

THREADS = 32


def run_threads(target, count=THREADS):
    errors = []
    start = threading.Barrier(count)

    def body(i):
        try:
            start.wait()
            target(i)
        except BaseException as e:  # noqa: BLE001  reported below
            errors.append(f"thread {i}: {type(e).__name__}: {e}")

    threads = [threading.Thread(target=body, args=(i,)) for i in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors, errors[:5]


def test_minted_tokens_are_never_mixed_up():
    def mint(i):
        # Each thread's own key, holding NUL bytes, as random keys do.
        secret = f"thread-{i:02}-".encode() * 4 + bytes([0, i, 0])
        for j in range(150):
            sub, email = f"sub-{i}-{j}", f"{i}.{j}@example.com"
            token = kc.jwt_mint(secret, sub, email, 60 + i)
            got = jwt.decode(token, secret, algorithms=["HS256"])
            assert (got["sub"], got["email"], got["exp"] - got["nbf"]) == (sub, email, 60 + i)
            claims = kc.jwt_verify(token, secret)
            assert (claims.sub, claims["email"]) == (sub, email)
    run_threads(mint)


def test_every_refusal_carries_its_own_message():
    now = int(time.time())
    base = {"sub": "s", "email": "e", "iss": "keldo", "exp": now + 600, "nbf": now}

    def pyjwt(**over):
        return jwt.encode({**base, **over}, SECRET, algorithm="HS256")

    good = kc.jwt_mint(SECRET, "ok", "ok@example.com")
    cases = [
        (lambda: kc.jwt_verify("abc", SECRET), kc.MalformedToken,
         "jwt_verify: malformed token (missing first dot)"),
        (lambda: kc.jwt_verify("a.b", SECRET), kc.MalformedToken,
         "jwt_verify: malformed token (missing second dot)"),
        (lambda: kc.jwt_verify(good, b"w" * 32), kc.BadSignature,
         "jwt_verify: signature verification failed"),
        (lambda: kc.jwt_verify(pyjwt(exp=now - 10), SECRET), kc.TokenExpired,
         "jwt_verify: token has expired"),
        (lambda: kc.jwt_verify(pyjwt(nbf=now + 999), SECRET), kc.TokenNotYetValid,
         "jwt_verify: token is not valid yet (nbf in future)"),
        (lambda: kc.jwt_verify(pyjwt(iss="other"), SECRET), kc.InvalidClaims,
         "jwt_verify: invalid or missing 'iss' claim"),
        (lambda: kc.jwt_verify(pyjwt(email=None), SECRET), kc.InvalidClaims,
         "jwt_verify: missing 'email' claim"),
        (lambda: kc.b64decode("a*bc"), kc.InvalidArgument,
         "keldo_crypto_base64_decode: decode failed or buffer too small"),
        (lambda: kc.b64url_decode("ab=c"), kc.InvalidArgument,
         "keldo_crypto_base64url_decode: decode failed or buffer too small"),
    ]

    def refuse(i):
        call, cls, message = cases[i % len(cases)]
        for _ in range(300):
            with pytest.raises(kc.KeldoError) as e:
                call()
            assert (type(e.value), str(e.value)) == (cls, message)
            # Successes in between, which must stay successes.
            assert kc.jwt_verify(good, SECRET).sub == "ok"
            assert kc.b64decode("aGk=") == b"hi"
    run_threads(refuse, len(cases) * 3)


def test_parallel_pbkdf2_and_hashes_agree_with_hashlib():
    def derive(i):
        pw, salt = f"password {i}".encode(), f"salt {i}".encode()
        want = hashlib.pbkdf2_hmac("sha256", pw, salt, 2000 + i, 16 + i)
        for _ in range(5):
            assert kc.pbkdf2_sha256(pw, salt, 2000 + i, 16 + i) == want
            assert kc.sha256(pw * i) == hashlib.sha256(pw * i).digest()
            assert len(kc.uuid4()) == 36
    run_threads(derive, 16)


def test_pbkdf2_lets_other_threads_run():
    # While one thread derives, this one must keep running Python code: the
    # foreign call runs without the GIL.
    window = []

    def derive():
        start = time.perf_counter()
        kc.pbkdf2_sha256(b"pw", b"salt", 2_000_000)
        window.extend((start, time.perf_counter()))

    t = threading.Thread(target=derive)
    ticks = []
    t.start()
    while t.is_alive():
        ticks.append(time.perf_counter())
    t.join()
    start, end = window
    inside = [start] + [x for x in ticks if start < x < end] + [end]
    # Holding the GIL, the call would stop this thread for all of its length
    # (it may still run for one switch interval before the call begins).
    longest_stop = max(b - a for a, b in zip(inside, inside[1:]))
    assert longest_stop < 0.5 * (end - start), (longest_stop, end - start)


def test_long_token_is_verified_too():
    # Over 16 KiB the call lets other threads run; the verdict is the same.
    now = int(time.time())
    claims = {"sub": "s", "email": "e", "iss": "keldo", "exp": now + 60, "nbf": now}
    token = jwt.encode(claims, SECRET, algorithm="HS256", headers={"pad": "x" * 20000})
    assert len(token) > 16384
    assert dict(kc.jwt_verify(token, SECRET)) == {"sub": "s", "email": "e", "exp": now + 60}
    with pytest.raises(kc.BadSignature):
        kc.jwt_verify(token, b"w" * 32)


@pytest.mark.skipif(not hasattr(os, "fork"), reason="no fork")
def test_fork_while_other_threads_call_the_library():
    # With no lock there is none to be left held in the child.
    stop = threading.Event()

    def busy():
        token = kc.jwt_mint(SECRET, "p", "q")
        while not stop.is_set():
            kc.jwt_verify(token, SECRET)
            kc.verify_password("pw", "pbkdf2_sha256$1$salt$" + "A" * 43 + "=")

    threads = [threading.Thread(target=busy) for _ in range(4)]
    for t in threads:
        t.start()
    try:
        for _ in range(5):
            pid = os.fork()
            if pid == 0:
                token = kc.jwt_mint(SECRET, "c", "d")
                ok = kc.b64decode("aGk=") == b"hi" and kc.jwt_verify(token, SECRET).sub == "c"
                os._exit(0 if ok else 1)
            deadline = time.monotonic() + 20
            while True:
                done, status = os.waitpid(pid, os.WNOHANG)
                if done:
                    break
                if time.monotonic() > deadline:
                    os.kill(pid, 9)
                    os.waitpid(pid, 0)
                    pytest.fail("the child hung")
                time.sleep(0.01)
            assert os.waitstatus_to_exitcode(status) == 0
    finally:
        stop.set()
        for t in threads:
            t.join()


def test_no_lock_is_left_in_the_package():
    # The thread safety comes from the library's reentrant functions; a lock
    # put back would serialise every token call of the process again.
    import keldo_crypto._native as native
    import keldo_crypto._tokens as tokens
    for module in (native, tokens):
        for name, value in vars(module).items():
            assert not isinstance(value, type(threading.Lock())), f"{module.__name__}.{name}"
