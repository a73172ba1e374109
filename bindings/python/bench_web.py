#!/usr/bin/env python3
"""keldo_crypto.fastapi.BearerAuth against FastAPI's HTTPBearer with PyJWT,
the stack a FastAPI service uses today, both configured for HS256 and
issuer "keldo" (tests/webapps.py has both apps).

    KELDO_CRYPTO_LIBRARY=build/src/libkeldo_crypto.so.1 python3 bindings/python/bench_web.py

1. The authentication step alone, in-process: the dependency called on
   one request's connection object, giving the claims (ours), against
   HTTPBearer giving the credentials and PyJWT's decode of them (the peer).
   timeit, in interleaved rounds of CPU time; the fastest round counts.
2. End to end: one uvicorn server (uvloop and httptools, no access log:
   uvicorn's fastest documented setting, one worker) serves both protected
   routes, which return the claims; h2load (Debian's nghttp2-client, over
   HTTP/1.1 with keep-alive, 32 connections) sends a fixed number of
   requests to each on 127.0.0.1, in alternating rounds, and the best
   round's requests per second counts. Every response must be a 2xx. (wrk
   runs for a fixed time: it has no fixed request count.)

Prints Markdown; "ours / peer" for requests per second and "peer / ours"
for time: above 1, keldo_crypto is faster. --quick: few requests, for CI
(checks that everything runs; its numbers mean nothing).
"""

from __future__ import annotations

import argparse
import os
import platform
import re
import subprocess
import sys
import time
import timeit

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import keldo_crypto  # noqa: E402

SECRET = bytes(range(1, 33))

def auth_step(rounds: int, number: int) -> tuple[float, float]:
    import jwt
    from fastapi import HTTPException
    from fastapi.security import HTTPBearer
    from starlette.requests import Request

    from keldo_crypto.fastapi import BearerAuth

    token = keldo_crypto.jwt_mint(SECRET, "user-1234", "user-1234@example.com", 3600)
    scope = {"type": "http", "method": "GET", "path": "/me", "query_string": b"",
             "headers": [(b"host", b"127.0.0.1"), (b"user-agent", b"h2load"),
                         (b"authorization", b"Bearer " + token.encode())]}
    ours = BearerAuth(keys=[SECRET])
    bearer = HTTPBearer()

    def run(coroutine):  # neither dependency awaits anything: one step ends it
        try:
            coroutine.send(None)
        except StopIteration as e:
            return e.value
        raise AssertionError("the dependency suspended")

    def ours_call():
        return run(ours(Request(scope)))

    def peer_call():
        credentials = run(bearer(Request(scope)))
        try:
            return jwt.decode(credentials.credentials, SECRET, algorithms=["HS256"], issuer="keldo",
                              options={"require": ["exp", "iss", "sub"]})
        except jwt.PyJWTError:
            raise HTTPException(401) from None

    assert ours_call().sub == peer_call()["sub"] == "user-1234"
    timers = [timeit.Timer(f, timer=time.process_time) for f in (ours_call, peer_call)]
    best = [float("inf")] * 2
    for _ in range(rounds):
        for i, t in enumerate(timers):
            best[i] = min(best[i], t.timeit(number) / number)
    return best[0], best[1]


def start_server(env: dict) -> tuple[subprocess.Popen, int]:
    proc = subprocess.Popen([sys.executable, os.path.join(HERE, "tests", "webapps.py"), "fastapi",
                             "--fast"], stdout=subprocess.PIPE, text=True, env=env)
    line = proc.stdout.readline() if proc.stdout else ""
    if not line.startswith("port "):
        proc.kill()
        raise SystemExit(f"bench_web: the server did not start ({line!r})")
    return proc, int(line.split()[1])


def load(port: int, path: str, token: str, requests: int, connections: int) -> float:
    """Requests per second of h2load sending requests (HTTP/1.1, keep-alive,
    one thread) to path; every answer must be a 2xx."""
    out = subprocess.run(["h2load", "--h1", f"-n{requests}", f"-c{connections}", "-t1",
                          "-H", f"Authorization: Bearer {token}", f"http://127.0.0.1:{port}{path}"],
                         check=True, capture_output=True, text=True).stdout
    rate = re.search(r"finished in [\d.]+m?s, ([\d.]+) req/s", out)
    ok = re.search(r"status codes: (\d+) 2xx", out)
    if not rate or not ok or int(ok.group(1)) != requests:
        raise SystemExit(f"bench_web: {path} did not answer {requests} requests with 2xx:\n{out}")
    return float(rate.group(1))


def fmt(seconds: float) -> str:
    return f"{seconds * 1e6:.3g} µs" if seconds >= 1e-6 else f"{seconds * 1e9:.3g} ns"


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--requests", type=int, default=40_000)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    requests, rounds = (400, 1) if args.quick else (args.requests, args.rounds)
    import fastapi
    import jwt
    import uvicorn

    library = keldo_crypto.load_library()
    ours_t, peer_t = auth_step(3 if args.quick else 7, 1000 if args.quick else 20_000)

    env = dict(os.environ, KELDO_WEB_SECRET=SECRET.hex(), KELDO_CRYPTO_LIBRARY=library,
               PYTHONPATH=os.pathsep.join([HERE] + [p for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p]))
    token = keldo_crypto.jwt_mint(SECRET, "user-1234", "user-1234@example.com", 3600)
    paths = {"ours": "/ours/me", "peer": "/peer/me", "middleware": "/mw/me"}
    best = {name: 0.0 for name in paths}
    proc, port = start_server(env)
    try:
        for name, path in paths.items():  # warm up
            load(port, path, token, min(requests, 2000), 8)
        for _ in range(rounds):
            for name, path in paths.items():
                best[name] = max(best[name], load(port, path, token, requests, 32))
    finally:
        proc.terminate()
        proc.wait(10)

    version = subprocess.run(["h2load", "--version"], capture_output=True, text=True).stdout.strip()
    print(f"{platform.processor() or platform.machine()}, {os.cpu_count()} CPUs, load average "
          f"{os.getloadavg()[0]:.1f}; Python {platform.python_version()}, FastAPI {fastapi.__version__}, "
          f"uvicorn {uvicorn.__version__}, PyJWT {jwt.__version__}, {version.strip()}\n")
    print("| authentication step, in-process | keldo_crypto | FastAPI HTTPBearer + PyJWT | peer / ours |")
    print("|---|---|---|---|")
    print(f"| per request | {fmt(ours_t)} | {fmt(peer_t)} | **{peer_t / ours_t:.2f}** |\n")
    print(f"| end to end, {requests} requests a round, best of {rounds} | requests/s | ours / peer |")
    print("|---|---|---|")
    print(f"| FastAPI + HTTPBearer + PyJWT (peer) | {best['peer']:.0f} | 1.00 |")
    print(f"| FastAPI + keldo_crypto.fastapi.BearerAuth | {best['ours']:.0f} | **{best['ours'] / best['peer']:.2f}** |")
    print(f"| Starlette app + keldo_crypto.starlette.BearerAuthMiddleware (mounted in the same FastAPI app) "
          f"| {best['middleware']:.0f} | {best['middleware'] / best['peer']:.2f} |")


if __name__ == "__main__":
    main()
