"""The web components over real HTTP on 127.0.0.1, against the stacks people
run today: one table of requests sent to FastAPI (uvicorn), the Starlette
middleware (uvicorn), Flask (Werkzeug's server) and Django REST framework
(Django's threaded server), each served twice in the same process, by our
component and by its usual peer (FastAPI's HTTPBearer with PyJWT, the Flask
tutorial decorator with PyJWT, djangorestframework-simplejwt), all set for
HS256, issuer "keldo" and one secret (tests/webapps.py).

Our answers are checked against what RFC 6750 asks (the EXPECTED column);
every answer of a peer that differs from ours must be one of the choices
listed in DIFFERENCES, with the reason (docs/python.md shows the table), so
a new difference fails the test. KELDO_WEB_TABLE=FILE writes the table as
Markdown."""

import base64
import json
import os
import socket
import subprocess
import sys
import time

import pytest

for _module in ("fastapi", "uvicorn", "flask", "rest_framework", "rest_framework_simplejwt"):
    pytest.importorskip(_module)

import jwt  # noqa: E402

import keldo_crypto as kc  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
SECRET = bytes(range(1, 33))
OTHER = bytes(range(2, 34))
PREVIOUS = bytes(range(3, 35))   # ours take it too, after SECRET
NOW = int(time.time())


def b64(data):
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


def claims(**changes):
    c = {"sub": "user-42", "email": "ada@example.org", "iss": "keldo", "exp": NOW + 600,
         "nbf": NOW}
    c.update(changes)
    return {k: v for k, v in c.items() if v is not None}


def pyjwt(key=SECRET, algorithm="HS256", **changes):
    """A token signed by PyJWT, the writer these cases trust."""
    return jwt.encode(claims(**changes), key, algorithm=algorithm)


def hand(header, payload_text, key=SECRET):
    """A token with a header and a payload text of our choosing, HS256-signed by the
    standard library's hmac."""
    import hashlib
    import hmac
    signing = f"{b64(json.dumps(header).encode())}.{b64(payload_text.encode())}"
    return signing + "." + b64(hmac.new(key, signing.encode(), hashlib.sha256).digest())


def _library_has(symbol):
    import ctypes
    return hasattr(ctypes.CDLL(kc.load_library()), symbol)


# Interface 1.2 refuses a payload that repeats a name; 1.1 read the first.
REPEATS_REFUSED = _library_has("keldo_jwt_verify_k")
VALID = kc.jwt_mint(SECRET, "user-42", "ada@example.org", 600)
EXPIRED = pyjwt(exp=NOW - 30, nbf=NOW - 90)
auth = lambda value: [("Authorization", value)]  # noqa: E731
bearer = lambda token: auth("Bearer " + token)  # noqa: E731

# (name, route, request headers, query, expected answer of ours): route
# "me" is /ours/me against /peer/me, "optional" has no peer, "public" is the
# same public route. An expected answer is (status, error, sub): error is
# the error code of the challenge ("-" for the bare "Bearer" challenge),
# sub what a 200 answers.
CASES = [
    ("valid token", "me", bearer(VALID), "", (200, None, "user-42")),
    ("valid token signed by PyJWT", "me", bearer(pyjwt()), "", (200, None, "user-42")),
    ("expired", "me", bearer(EXPIRED), "", (401, "invalid_token", None)),
    ("not yet valid (nbf in an hour)", "me", bearer(pyjwt(nbf=NOW + 3600)), "",
     (401, "invalid_token", None)),
    ("nbf 30 s ahead", "me", bearer(pyjwt(nbf=NOW + 30)), "", (200, None, "user-42")),
    ("bad signature", "me", bearer(pyjwt(key=OTHER)), "", (401, "invalid_token", None)),
    ("signed with the previous key", "me", bearer(pyjwt(key=PREVIOUS)), "", (200, None, "user-42")),
    ("alg none", "me", bearer(b64(b'{"alg":"none","typ":"JWT"}') + "." + pyjwt().split(".")[1] + "."),
     "", (401, "invalid_token", None)),
    ("alg HS512", "me", bearer(pyjwt(algorithm="HS512")), "", (401, "invalid_token", None)),
    ("HS256 signature under an HS512 header", "me",
     bearer(hand({"alg": "HS512", "typ": "JWT"}, json.dumps(claims()))), "", (200, None, "user-42")),
    ("wrong issuer", "me", bearer(pyjwt(iss="someone-else")), "", (401, "invalid_token", None)),
    ("no iss", "me", bearer(pyjwt(iss=None)), "", (401, "invalid_token", None)),
    ("no exp", "me", bearer(pyjwt(exp=None)), "", (401, "invalid_token", None)),
    ("no sub", "me", bearer(pyjwt(sub=None)), "", (401, "invalid_token", None)),
    ("sub of 64 bytes", "me", bearer(pyjwt(sub="x" * 64)), "", (401, "invalid_token", None)),
    ("non-ASCII claims", "me", bearer(pyjwt(sub="zo\u00eb-\u65e5\u672c", email="zo\u00eb@\u4f8b.jp")),
     "", (200, None, "zo\u00eb-\u65e5\u672c")),
    ("iat in the future", "me", bearer(pyjwt(iat=NOW + 3600)), "", (200, None, "user-42")),
    ("aud present", "me", bearer(pyjwt(aud="other-service")), "", (200, None, "user-42")),
    ("sub given twice", "me",
     bearer(hand({"alg": "HS256", "typ": "JWT"}, json.dumps(claims())[:-1] + ', "sub": "admin"}')),
     "", (401, "invalid_token", None) if REPEATS_REFUSED else (200, None, "user-42")),
    ("signature with '=' padding", "me", bearer(VALID + "="), "", (200, None, "user-42")),
    ("no Authorization header", "me", [], "", (401, "-", None)),
    ("scheme in lower case", "me", auth("bearer " + VALID), "", (200, None, "user-42")),
    ("scheme in capitals", "me", auth("BEARER " + VALID), "", (200, None, "user-42")),
    ("two spaces before the token", "me", auth("Bearer  " + VALID), "", (200, None, "user-42")),
    ("tab before the token", "me", auth("Bearer\t" + VALID), "", (400, "invalid_request", None)),
    ("scheme without token", "me", auth("Bearer"), "", (400, "invalid_request", None)),
    ("two tokens", "me", auth(f"Bearer {VALID} {VALID}"), "", (400, "invalid_request", None)),
    ("two Authorization headers", "me", bearer(VALID) + bearer(VALID), "",
     (400, "invalid_request", None)),
    ("Basic credentials", "me", auth("Basic dXNlcjpwYXNz"), "", (401, "-", None)),
    ("token in the query string", "me", [], "?access_token=" + VALID, (401, "-", None)),
    ("token in a cookie", "me", [("Cookie", "access_token=" + VALID)], "", (401, "-", None)),
    ("10 kB token", "me", bearer("A" * 10_000), "", (401, "invalid_token", None)),
    ("control character after the token", "me", auth("Bearer " + VALID + "\x01"), "",
     (400, "invalid_request", None)),
    ("public route, expired token", "public", bearer(EXPIRED), "", (200, None, None)),
    ("optional route, no token", "optional", [], "", (200, None, None)),
    ("optional route, expired token", "optional", bearer(EXPIRED), "", (200, None, None)),
    ("optional route, malformed header", "optional", auth("Bearer a b"), "", (200, None, None)),
    ("optional route, valid token", "optional", bearer(VALID), "", (200, None, "user-42")),
]

# Where a peer answers otherwise (status, or the sub of a 200), and why ours
# answers as it does (the same reasons are in docs/python.md). Keyed by
# (case, peer); "*" is every peer. The challenge is not compared: ours names
# the error (invalid_token, invalid_request) as RFC 6750 3.1 asks, which no
# peer does (FastAPI's and simplejwt's send a bare "Bearer", the Flask
# decorator none at all).
DIFFERENCES = {
    ("signed with the previous key", "*"):
        "ours are given a key ring, current key first, as a service rotating its secret is; "
        "PyJWT's decode takes one key (a rotation is a loop over decodes in the application)",
    ("nbf 30 s ahead", "*"):
        "the library allows 60 s of clock skew on nbf; PyJWT's default leeway is 0",
    ("HS256 signature under an HS512 header", "*"):
        "the header is never read: the signature is always HS256 and covers the header, so "
        "only a key holder can write any header; PyJWT takes the header's alg and refuses",
    ("sub of 64 bytes", "*"):
        "the library refuses a sub over 63 bytes, so that an identity is whole or refused; "
        "PyJWT has no bound",
    ("iat in the future", "*"):
        "iat is not read (exp and nbf say when a token is valid); PyJWT refuses a future iat",
    ("aud present", "*"):
        "aud is not read (the issuer is fixed, tokens are for its own services); PyJWT refuses "
        "an aud it was not told to expect",
    ("sub given twice", "*"):
        "a payload that repeats a name is refused; Python's JSON reader keeps the last one, so "
        "PyJWT answers for \"admin\"",
    ("no Authorization header", "fastapi"):
        "RFC 6750 3.1: no credentials is 401 with a Bearer challenge; FastAPI's HTTPBearer "
        "answers 403",
    ("Basic credentials", "fastapi"):
        "another scheme is no bearer credentials: 401 with a Bearer challenge, not HTTPBearer's 403",
    ("token in the query string", "fastapi"): "as no credentials: 401, not HTTPBearer's 403",
    ("token in a cookie", "fastapi"): "as no credentials: 401, not HTTPBearer's 403",
    ("scheme in lower case", "*"):
        "the scheme is case-insensitive (RFC 7235 2.1); the Flask decorator matches \"Bearer \", "
        "simplejwt compares the scheme as written",
    ("scheme in capitals", "*"):
        "the scheme is case-insensitive (RFC 7235 2.1); the Flask decorator matches \"Bearer \", "
        "simplejwt compares the scheme as written",
    ("two spaces before the token", "*"):
        "RFC 6750 2.1 allows 1*SP; HTTPBearer and the Flask decorator hand PyJWT the text after "
        "the first space",
    ("tab before the token", "*"):
        "only spaces may stand there (RFC 6750 2.1): 400 invalid_request; simplejwt splits on "
        "any white space and takes the token",
    ("scheme without token", "*"):
        "a malformed request is 400 invalid_request (RFC 6750 3.1); the peers answer 401 or 403",
    ("two tokens", "*"):
        "exactly one token (RFC 6750 2.1): 400 invalid_request; the Flask decorator takes the "
        "first and lets the request in",
    ("two Authorization headers", "*"):
        "more than one Authorization field is a malformed request: 400 invalid_request; "
        "FastAPI reads the first and lets the request in",
    ("control character after the token", "*"):
        "a header that is not \"Bearer\" 1*SP b64token is 400 invalid_request; the peers "
        "answer 401",
}

STACKS = ("fastapi", "flask", "drf")
# The columns: (stack, which server, path prefix).
OURS = (("fastapi", "fastapi", "/ours"), ("starlette", "fastapi", "/mw"), ("flask", "flask", "/ours"),
        ("drf", "drf", "/ours"))
PEERS = (("fastapi", "fastapi"), ("flask", "flask"), ("drf", "drf"))


@pytest.fixture(scope="module")
def servers():
    env = dict(os.environ, KELDO_WEB_SECRET=SECRET.hex(), KELDO_WEB_PREVIOUS=PREVIOUS.hex(),
               PYTHONPATH=os.pathsep.join([os.path.dirname(os.path.dirname(kc.__file__))]
                                          + [p for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p]),
               KELDO_CRYPTO_LIBRARY=kc.load_library())
    started = {}
    try:
        for kind in STACKS:
            started[kind] = subprocess.Popen([sys.executable, os.path.join(HERE, "webapps.py"), kind],
                                             stdout=subprocess.PIPE, env=env, text=True)
        ports = {}
        for kind, proc in started.items():
            line = proc.stdout.readline()
            assert line.startswith("port "), f"{kind} server did not start: {line!r}"
            ports[kind] = int(line.split()[1])
        yield ports
    finally:
        for proc in started.values():
            proc.terminate()
        for proc in started.values():
            proc.wait(10)


def send(port, target, headers):
    """One HTTP/1.1 request on a new connection; (status, headers, body)."""
    head = [f"GET {target} HTTP/1.1", f"Host: 127.0.0.1:{port}", "Connection: close"]
    head += [f"{name}: {value}" for name, value in headers]
    with socket.create_connection(("127.0.0.1", port), timeout=20) as s:
        s.sendall(("\r\n".join(head) + "\r\n\r\n").encode("utf-8"))
        chunks = []
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            chunks.append(chunk)
    raw = b"".join(chunks)
    top, _, body = raw.partition(b"\r\n\r\n")
    lines = top.decode("latin-1").split("\r\n")
    fields = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        fields.setdefault(name.strip().lower(), []).append(value.strip())
    return int(lines[0].split()[1]), fields, body


def answer(port, target, headers):
    """(status, error, sub): error as in CASES, or None where no challenge."""
    status, fields, body = send(port, target, headers)
    challenge = fields.get("www-authenticate")
    error = None
    if challenge:
        value = challenge[0]
        error = value.split('error="', 1)[1].split('"', 1)[0] if 'error="' in value else "-"
    sub = None
    if status == 200:
        try:
            sub = json.loads(body).get("sub")
        except ValueError:
            sub = "?"
    return (status, error, sub), body, fields


def _route(route, ours, prefix):
    if route == "public":
        return "/public"
    if route == "optional":
        return (prefix + "/optional") if prefix == "/ours" else None
    return prefix + "/me" if ours else "/peer/me"


@pytest.fixture(scope="module")
def table(servers):
    rows = []
    for name, route, headers, query, expected in CASES:
        ours, peers = {}, {}
        for column, server, prefix in OURS:
            path = _route(route, True, prefix)
            if path is not None:
                ours[column] = answer(servers[server], path + query, headers)
        for column, server in PEERS:
            if route != "optional":
                peers[column] = answer(servers[server], _route(route, False, "") + query, headers)[0]
        rows.append((name, expected, ours, peers))
    where = os.environ.get("KELDO_WEB_TABLE")
    if where:
        with open(where, "w", encoding="utf-8") as f:
            f.write(markdown(rows))
    return rows


def _cell(a):
    status, error, sub = a
    text = str(status)
    if error:
        text += " " + ("Bearer" if error == "-" else error)
    if sub:
        text += " " + sub
    return text


def markdown(rows):
    out = ["| request | ours (all four) | FastAPI + PyJWT | Flask + PyJWT | DRF + simplejwt |",
           "|---|---|---|---|---|"]
    for name, expected, ours, peers in rows:
        cells = [_cell(peers[p]) if p in peers else "—" for p, _ in PEERS]
        out.append(f"| {name} | {_cell(expected)} | " + " | ".join(cells) + " |")
    return "\n".join(out) + "\n"


def test_there_are_enough_cases():
    assert len(CASES) >= 25
    assert len({c[0] for c in CASES}) == len(CASES)


def test_ours_answer_as_rfc_6750_asks(table):
    wrong = []
    for name, expected, ours, _ in table:
        for column, (got, body, fields) in ours.items():
            if got == expected:
                continue
            # uvicorn's HTTP parser refuses a control character itself, before
            # any application: still a 400, never a 500.
            if (column in ("fastapi", "starlette") and expected[0] == 400 and got == (400, None, None)
                    and name == "control character after the token"):
                continue
            wrong.append(f"{name} / {column}: {got}, expected {expected}")
    assert not wrong, "\n".join(wrong)


def test_no_answer_echoes_the_token(table):
    for name, route, headers, query, _ in CASES:
        for _, value in headers:
            if value.startswith("Bearer ") and len(value) > 40:
                secretive = value[-20:].encode()
                for column, (got, body, fields) in next(r for r in table if r[0] == name)[2].items():
                    if got[0] != 200:
                        assert secretive not in body, (name, column)
                        assert all(secretive.decode() not in v for vs in fields.values() for v in vs)


def test_every_difference_from_the_peers_is_a_documented_choice(table):
    undocumented = []
    for name, expected, ours, peers in table:
        for column, got in peers.items():
            if (got[0], got[2]) == (expected[0], expected[2]):
                continue
            if (name, column) not in DIFFERENCES and (name, "*") not in DIFFERENCES:
                undocumented.append(f"{name} / {column}: peer {got}, ours {expected}")
    assert not undocumented, "\n".join(undocumented)


def test_the_peers_agree_with_ours_on_the_plain_cases(table):
    # The comparison is only worth something if the peers are set up to
    # accept our tokens and refuse the obvious forgeries.
    plain = {"valid token", "valid token signed by PyJWT", "expired", "bad signature",
             "alg none", "wrong issuer", "non-ASCII claims"}
    for name, expected, ours, peers in table:
        if name in plain:
            for column, got in peers.items():
                assert got[0] == expected[0] and got[2] == expected[2], (name, column, got)


@pytest.mark.parametrize("path,sub,email,expected", [
    ("/ours/me", "nobody", "n@example.org", (401, "invalid_token", None)),     # no such user
    ("/ours/me", "inactive", "i@example.org", (401, "invalid_token", None)),   # is_active False
    ("/ours/by-email", "anything", "user-42@example.org", (200, None, "anything")),
    ("/ours/by-email", "anything", "nobody@example.org", (401, "invalid_token", None)),
])
def test_drf_finds_the_user_through_the_hook(servers, path, sub, email, expected):
    got, body, _ = answer(servers["drf"], path, bearer(kc.jwt_mint(SECRET, sub, email)))
    assert got == expected, body
    if got[0] == 200:
        assert json.loads(body)["user"] == "user-42"


def test_ours_name_the_key_that_matched(table):
    for name, key in (("valid token", 0), ("signed with the previous key", 1)):
        row = next(r for r in table if r[0] == name)
        for column, (got, body, _) in row[2].items():
            assert json.loads(body)["key"] == key, (name, column)
