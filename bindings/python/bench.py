#!/usr/bin/env python3
"""keldo_crypto against PyJWT and hashlib, in one process on the same inputs.

    KELDO_CRYPTO_LIBRARY=build/src/libkeldo_crypto.so python3 bindings/python/bench.py

Each case is timed with timeit in short rounds that alternate between
keldo_crypto and its peer; the clock is the process's CPU time, and the
fastest round of each counts (the least disturbed by other load). Before
timing, every pair is checked to give the same result.
Prints a Markdown table; "peer / ours" above 1 means keldo_crypto is faster.
"""

from __future__ import annotations

import argparse
import hashlib
import hmac
import os
import platform
import sys
import time
import timeit

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import jwt  # noqa: E402  PyJWT

import keldo_crypto  # noqa: E402

SECRET = b"benchmark-secret-of-thirty-two-b"
SUB = "user-1234"
EMAIL = "user-1234@example.com"
PASSWORD = b"correct horse battery staple"
SALT = b"0123456789abcdef"


def best(stmt, number: int, rounds: int) -> float:
    return min(timeit.repeat(stmt, number=number, repeat=rounds,
                             timer=time.process_time)) / number


def pair(ours, peer, number: int, rounds: int) -> tuple[float, float]:
    """Seconds per call of ours and of peer, their rounds interleaved."""
    t_ours, t_peer = [], []
    for _ in range(rounds):
        t_ours.append(best(ours, number, 1))
        t_peer.append(best(peer, number, 1))
    return min(t_ours), min(t_peer)


def fmt(seconds: float) -> str:
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("µs", 1e-6), ("ns", 1e-9)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--quick", action="store_true", help="few rounds (a smoke run)")
    args = ap.parse_args()
    rounds = 3 if args.quick else 40
    n_tok = 2000
    n_tiny = 20000
    n_pbkdf2 = 1

    now = keldo_crypto.jwt_verify(SECRET, keldo_crypto.jwt_mint(SECRET, SUB, EMAIL)).exp - 3600
    claims = {"sub": SUB, "email": EMAIL, "iss": "keldo", "exp": now + 3600, "nbf": now}
    token = jwt.encode(claims, SECRET, algorithm="HS256")

    # Same work checked before any timing.
    assert tuple(keldo_crypto.jwt_verify(SECRET, token)) == (SUB, EMAIL, now + 3600)
    assert jwt.decode(token, SECRET, algorithms=["HS256"]) == claims
    ours_token = keldo_crypto.jwt_mint(SECRET, SUB, EMAIL)
    assert jwt.decode(ours_token, SECRET, algorithms=["HS256"])["sub"] == SUB
    assert (keldo_crypto.pbkdf2_sha256(PASSWORD, SALT, 1000)
            == hashlib.pbkdf2_hmac("sha256", PASSWORD, SALT, 1000))
    assert keldo_crypto.compare_digest(b"a", b"a") and hmac.compare_digest(b"a", b"a")

    rows = []

    def row(name, peer_name, ours, peer, number, need=None):
        t_o, t_p = pair(ours, peer, number, rounds)
        rows.append((name, t_o, peer_name, t_p, need))

    row("jwt_verify", 'jwt.decode(token, key, algorithms=["HS256"])',
        lambda: keldo_crypto.jwt_verify(SECRET, token),
        lambda: jwt.decode(token, SECRET, algorithms=["HS256"]), n_tok, 10)
    # PyJWT doing every check jwt_verify does (issuer, required claims).
    row("jwt_verify", 'jwt.decode(..., issuer="keldo", options={"require": [...]})',
        lambda: keldo_crypto.jwt_verify(SECRET, token),
        lambda: jwt.decode(token, SECRET, algorithms=["HS256"], issuer="keldo",
                           options={"require": ["exp", "iss", "sub", "email"]}), n_tok)
    row("jwt_mint", 'jwt.encode(claims, key, algorithm="HS256")',
        lambda: keldo_crypto.jwt_mint(SECRET, SUB, EMAIL, 3600),
        lambda: jwt.encode({"sub": SUB, "email": EMAIL, "iss": "keldo",
                            "exp": now + 3600, "nbf": now}, SECRET, algorithm="HS256"),
        n_tok, 5)
    pbkdf2_rounds = rounds
    rounds = min(rounds, 8)  # a round of each is 0.05 to 0.3 s
    row("pbkdf2_sha256, 600 000 iterations", 'hashlib.pbkdf2_hmac("sha256", ...)',
        lambda: keldo_crypto.pbkdf2_sha256(PASSWORD, SALT, 600_000),
        lambda: hashlib.pbkdf2_hmac("sha256", PASSWORD, SALT, 600_000), n_pbkdf2, 2.5)
    rounds = pbkdf2_rounds
    row("sha256, 64 bytes", "hashlib.sha256(data).digest()",
        lambda: keldo_crypto.sha256(SALT * 4), lambda: hashlib.sha256(SALT * 4).digest(), n_tiny)
    row("hmac_sha256, 64 bytes", 'hmac.digest(key, data, "sha256")',
        lambda: keldo_crypto.hmac_sha256(SECRET, SALT * 4),
        lambda: hmac.digest(SECRET, SALT * 4, "sha256"), n_tiny)
    # Per-call overhead: a call that does almost nothing.
    row("compare_digest, 1 byte (per-call overhead)", "hmac.compare_digest",
        lambda: keldo_crypto.compare_digest(b"a", b"a"),
        lambda: hmac.compare_digest(b"a", b"a"), n_tiny)

    print(f"Python {platform.python_version()}, PyJWT {jwt.__version__}, "
          f"{hashlib.__name__} on OpenSSL {__import__('ssl').OPENSSL_VERSION.split()[1]}, "
          f"library {keldo_crypto.load_library()}; CPU time, best of {rounds} "
          f"interleaved rounds (PBKDF2: of {min(rounds, 8)})")
    print()
    print("| operation | keldo_crypto | peer | peer time | peer / ours | needed |")
    print("|---|---|---|---|---|---|")
    failed = False
    for name, t_o, peer_name, t_p, need in rows:
        ratio = t_p / t_o
        mark = ""
        if need is not None:
            mark = f"≥ {need}" + ("" if ratio >= need else " (not met)")
            failed |= ratio < need
        print(f"| {name} | {fmt(t_o)} | `{peer_name}` | {fmt(t_p)} | **{ratio:.2f}** | {mark} |")
    return 1 if failed and not args.quick else 0


if __name__ == "__main__":
    sys.exit(main())
