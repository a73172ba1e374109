#!/usr/bin/env python3
"""keldo_crypto against PyJWT, hashlib and Django, in one process on the same inputs.

    KELDO_CRYPTO_LIBRARY=build/src/libkeldo_crypto.so.1 python3 bindings/python/bench.py

Each case is timed with timeit in short rounds that alternate between
keldo_crypto and its peer; the clock is the process's CPU time, and the
fastest round of each counts (the least disturbed by other load). Before
timing, every pair is checked to give the same result.
Prints Markdown tables:
  - keldo_crypto against its peers; "peer / ours" above 1 means keldo_crypto
    is faster;
  - the package's cost above the library: each token call against a C loop
    of the same library call with the same arguments (the compiled module's
    c_time), in alternating rounds;
  - PBKDF2 in two threads at once against one thread doing the same work
    (wall-clock time; the calls run without the GIL), hashlib beside it.
"""

from __future__ import annotations

import argparse
import hashlib
import hmac
import os
import platform
import sys
import threading
import time
import timeit

# The source beside this file, unless an installed copy is asked for (its
# compiled module is built there, not here).
if os.environ.get("KELDO_PYTHON_TEST_INSTALLED") != "1":
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import jwt  # noqa: E402  PyJWT

import keldo_crypto  # noqa: E402
from keldo_crypto import _ext  # noqa: E402  the compiled module: its C-level timing

SECRET = b"benchmark-secret-of-thirty-two-b"
SUB = "user-1234"
EMAIL = "user-1234@example.com"
PASSWORD = b"correct horse battery staple"
SALT = b"0123456789abcdef"


def pair(ours: str, peer: str, names: dict, number: int, rounds: int) -> tuple[float, float]:
    """CPU seconds per call of the statements ours and peer, their rounds
    interleaved. Statements rather than lambdas: no extra call in the time."""
    timers = [timeit.Timer(stmt, timer=time.process_time, globals=names) for stmt in (ours, peer)]
    best = [float("inf"), float("inf")]
    for _ in range(rounds):
        for i, t in enumerate(timers):
            best[i] = min(best[i], t.timeit(number) / number)
    return best[0], best[1]


def fmt(seconds: float) -> str:
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("µs", 1e-6), ("ns", 1e-9)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


def overhead(ours: str, c_loop, names: dict, number: int, rounds: int) -> tuple[float, float]:
    """CPU seconds per call of the statement ours and of c_loop(number) (a C
    loop of the library call ours makes), their rounds interleaved."""
    timer = timeit.Timer(ours, timer=time.process_time, globals=names)
    best = [float("inf"), float("inf")]
    for _ in range(rounds):
        best[0] = min(best[0], timer.timeit(number) / number)
        best[1] = min(best[1], c_loop(number) / number)
    return best[0], best[1]


def threads_speedup(derive, calls: int, rounds: int) -> float:
    """Wall time of 2 * calls derivations in one thread over that of calls
    derivations in each of two threads at once: 2.0 is perfect scaling."""
    def one_thread() -> float:
        start = time.perf_counter()
        for _ in range(2 * calls):
            derive()
        return time.perf_counter() - start

    def two_threads() -> float:
        go = threading.Barrier(3)

        def body():
            go.wait()
            for _ in range(calls):
                derive()
        ts = [threading.Thread(target=body) for _ in range(2)]
        for t in ts:
            t.start()
        go.wait()
        start = time.perf_counter()
        for t in ts:
            t.join()
        return time.perf_counter() - start

    best_one = best_two = float("inf")
    for _ in range(rounds):
        best_one = min(best_one, one_thread())
        best_two = min(best_two, two_threads())
    return best_one / best_two


def django_bench(names: dict, row, quick: bool) -> None:
    """check_password with keldo_crypto.django's hasher alone, against
    Django's own alone, on one stored hash at Django's default count."""
    from django.conf import settings
    settings.configure(PASSWORD_HASHERS=["keldo_crypto.django.PBKDF2PasswordHasher"])
    import django
    django.setup()
    from django.contrib.auth.hashers import PBKDF2PasswordHasher, check_password, make_password
    from django.test.utils import override_settings
    stock = PBKDF2PasswordHasher()
    n = stock.iterations if not quick else 1000
    encoded = stock.encode("correct horse battery staple", stock.salt(), n)
    ours_only = override_settings(PASSWORD_HASHERS=["keldo_crypto.django.PBKDF2PasswordHasher"])
    stock_only = override_settings(
        PASSWORD_HASHERS=["django.contrib.auth.hashers.PBKDF2PasswordHasher"])
    with ours_only:
        assert check_password("correct horse battery staple", encoded)
        assert make_password("x", "salt", "pbkdf2_sha256") == stock.encode("x", "salt")
    with stock_only:
        assert check_password("correct horse battery staple", encoded)
    names.update(check_password=check_password, encoded=encoded, ours_only=ours_only,
                 stock_only=stock_only, django_pw="correct horse battery staple")
    what = "a quick run's count" if quick else f"Django {django.get_version()}'s default"
    row(f"Django check_password, {n} iterations ({what})",
        "with ours_only: check_password(django_pw, encoded)",
        "with stock_only: check_password(django_pw, encoded)", 1, None if quick else 2.5)


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--quick", action="store_true", help="few rounds (a smoke run)")
    ap.add_argument("--no-django", action="store_true", help="leave out the Django rows")
    args = ap.parse_args()
    django_rows = not args.no_django
    rounds = 3 if args.quick else 40
    n_tok = 2000
    n_tiny = 20000
    n_pbkdf2 = 1

    now = keldo_crypto.jwt_verify(keldo_crypto.jwt_mint(SECRET, SUB, EMAIL), SECRET).exp - 3600
    claims = {"sub": SUB, "email": EMAIL, "iss": "keldo", "exp": now + 3600, "nbf": now}
    token = jwt.encode(claims, SECRET, algorithm="HS256")

    # Same work checked before any timing.
    assert dict(keldo_crypto.jwt_verify(token, SECRET)) == {"sub": SUB, "email": EMAIL,
                                                            "exp": now + 3600}
    assert jwt.decode(token, SECRET, algorithms=["HS256"]) == claims
    ours_token = keldo_crypto.jwt_mint(SECRET, SUB, EMAIL)
    assert jwt.decode(ours_token, SECRET, algorithms=["HS256"])["sub"] == SUB
    assert (keldo_crypto.pbkdf2_sha256(PASSWORD, SALT, 1000)
            == hashlib.pbkdf2_hmac("sha256", PASSWORD, SALT, 1000))
    assert keldo_crypto.compare_digest(b"a", b"a") and hmac.compare_digest(b"a", b"a")

    names = {"keldo_crypto": keldo_crypto, "jwt": jwt, "hashlib": hashlib, "hmac": hmac,
             "key": SECRET, "token": token, "sub": SUB, "email": EMAIL, "now": now,
             "password": PASSWORD, "salt": SALT, "data": SALT * 4}
    rows = []

    def row(name, ours, peer, number, need=None):
        t_o, t_p = pair(ours, peer, names, number, rounds)
        rows.append((name, ours, t_o, peer, t_p, need))

    row("jwt_verify", "keldo_crypto.jwt_verify(token, key)",
        'jwt.decode(token, key, algorithms=["HS256"])', n_tok, 17)
    # PyJWT doing every check jwt_verify does (issuer, required claims).
    row("jwt_verify, PyJWT checking as much", "keldo_crypto.jwt_verify(token, key)",
        'jwt.decode(token, key, algorithms=["HS256"], issuer="keldo", '
        'options={"require": ["exp", "iss", "sub", "email"]})', n_tok)
    row("jwt_mint", "keldo_crypto.jwt_mint(key, sub, email, 3600)",
        'jwt.encode({"sub": sub, "email": email, "iss": "keldo", "exp": now + 3600, '
        '"nbf": now}, key, algorithm="HS256")', n_tok, 10)
    pbkdf2_rounds = rounds
    rounds = min(rounds, 8)  # a round of each is 0.05 to 0.3 s
    row("pbkdf2_sha256, 600 000 iterations",
        "keldo_crypto.pbkdf2_sha256(password, salt, 600_000)",
        'hashlib.pbkdf2_hmac("sha256", password, salt, 600_000)', n_pbkdf2, 2.5)
    rounds = pbkdf2_rounds
    row("sha256, 64 bytes", "keldo_crypto.sha256(data)", "hashlib.sha256(data).digest()", n_tiny)
    row("hmac_sha256, 64 bytes", "keldo_crypto.hmac_sha256(key, data)",
        'hmac.digest(key, data, "sha256")', n_tiny)
    # A call that does almost nothing.
    row("compare_digest, 1 byte", 'keldo_crypto.compare_digest(b"a", b"a")',
        'hmac.compare_digest(b"a", b"a")', n_tiny)
    if django_rows:
        django_bench(names, row, args.quick)

    # The package's cost above the library: the bare call in a C loop,
    # through the same function pointer with the same arguments.
    token_b, sub_b, email_b = token.encode(), SUB.encode(), EMAIL.encode()
    costs = [
        ("jwt_verify(token, key)", *overhead(
            "keldo_crypto.jwt_verify(token, key)",
            lambda n: _ext.c_time("verify", n, SECRET, token_b), names, n_tok, rounds)),
        ("jwt_mint(key, sub, email, 3600)", *overhead(
            "keldo_crypto.jwt_mint(key, sub, email, 3600)",
            lambda n: _ext.c_time("mint", n, SECRET, sub_b, email_b, 3600), names, n_tok, rounds)),
    ]

    # Two threads deriving at once, against one doing the same work.
    n_iter = 20_000 if args.quick else 200_000
    thread_rounds = 2 if args.quick else 5
    ours_speedup = threads_speedup(
        lambda: keldo_crypto.pbkdf2_sha256(PASSWORD, SALT, n_iter), 3, thread_rounds)
    peer_speedup = threads_speedup(
        lambda: hashlib.pbkdf2_hmac("sha256", PASSWORD, SALT, n_iter), 3, thread_rounds)

    print(f"Python {platform.python_version()}, PyJWT {jwt.__version__}, "
          f"{hashlib.__name__} on OpenSSL {__import__('ssl').OPENSSL_VERSION.split()[1]}, "
          f"library {keldo_crypto.load_library()}; CPU time, best of {rounds} "
          f"interleaved rounds (PBKDF2: of {min(rounds, 8)})")
    print()
    print("| operation | keldo_crypto | time | peer | time | peer / ours | needed |")
    print("|---|---|---|---|---|---|---|")
    failed = False
    for name, ours, t_o, peer, t_p, need in rows:
        ratio = t_p / t_o
        mark = ""
        if need is not None:
            mark = f"≥ {need}" + ("" if ratio >= need else " (not met)")
            failed |= ratio < need
        print(f"| {name} | `{ours}` | {fmt(t_o)} | `{peer}` | {fmt(t_p)} | **{ratio:.2f}** "
              f"| {mark} |")
    print()
    print("| call | keldo_crypto | bare C call (C loop) | package's cost above it | needed |")
    print("|---|---|---|---|---|")
    for name, t_o, t_c in costs:
        extra = t_o - t_c
        ok = extra <= 150e-9
        failed |= not ok
        print(f"| `{name}` | {fmt(t_o)} | {fmt(t_c)} | **{extra * 1e9:.0f} ns** "
              f"| ≤ 150 ns{'' if ok else ' (not met)'} |")
    print()
    print(f"PBKDF2-HMAC-SHA256, {n_iter} iterations, 6 derivations: one thread against two "
          f"threads of 3 each (wall clock, best of {thread_rounds}; {os.cpu_count()} CPUs)")
    print()
    print("| derivation | two threads / one thread | needed |")
    print("|---|---|---|")
    ok = ours_speedup >= 1.8
    failed |= not ok
    print(f"| `keldo_crypto.pbkdf2_sha256` | **{ours_speedup:.2f}** | ≥ 1.8{'' if ok else ' (not met)'} |")
    print(f"| `hashlib.pbkdf2_hmac` | {peer_speedup:.2f} | |")
    return 1 if failed and not args.quick else 0


if __name__ == "__main__":
    sys.exit(main())
