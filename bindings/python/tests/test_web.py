"""The web components in-process: the Authorization grammar of RFC 6750,
what each framework shows and lets an application change (the OpenAPI
scheme, its own error handlers), that a refusal leaves nothing on the
request, the Flask password helpers against Werkzeug's own check, and the
package's error conventions. Over real HTTP: test_web_http.py."""

import builtins

import pytest

import keldo_crypto as kc
from keldo_crypto import _bearer

from conftest import SECRET

TOKEN = "eyJhbGciOiJIUzI1NiJ9.eyJzdWIiOiJ4In0.c2ln"


# ---- RFC 6750 2.1: credentials = "Bearer" 1*SP b64token ---------------------------

@pytest.mark.parametrize("values,result", [
    ([], None),                                    # no field
    ([""], None),                                  # an empty one
    (["Basic dXNlcjpwYXNz"], None),                # another scheme: no bearer credentials
    (["Bearertoken"], None),                       # a scheme named Bearertoken
    (["Bearer " + TOKEN], TOKEN),
    (["bEaReR " + TOKEN], TOKEN),                  # the scheme is case-insensitive
    (["Bearer    " + TOKEN], TOKEN),               # 1*SP
    (["  Bearer " + TOKEN + " \t"], TOKEN),        # optional white space around the value
    (["Bearer abc+/_-.~=="], "abc+/_-.~=="),        # every b64token character, '=' at the end
    (["Bearer"], 400), (["Bearer "], 400),
    (["Bearer\t" + TOKEN], 400),                   # only SP separates
    (["Bearer " + TOKEN + " " + TOKEN], 400),      # exactly one token
    (["Bearer " + TOKEN + "," + "Bearer " + TOKEN], 400),   # two fields joined by a server
    (["Bearer ab=c"], 400),                        # '=' only at the end
    (["Bearer t\u00f6ken"], 400), (["Bearer tok\x00en"], 400), (["Bearer tok\x7f"], 400),
    (["Bearer " + TOKEN, "Bearer " + TOKEN], 400),  # two fields
    (["Basic x", "Bearer " + TOKEN], 400),
])
def test_authorization_grammar(values, result):
    if result == 400:
        with pytest.raises(_bearer.AuthFailure) as e:
            _bearer.authorization(values)
        assert (e.value.status, e.value.error) == (400, "invalid_request")
        assert e.value.challenge.startswith('Bearer error="invalid_request", error_description="')
    else:
        assert _bearer.authorization(values) == result


@pytest.mark.parametrize("token,description", [
    (kc.jwt_mint(SECRET, "a", "b", 0), None),      # expires within the test's second or so
    ("a.b", "malformed token"),
    (kc.jwt_mint(b"o" * 32, "a", "b"), "bad signature"),
])
def test_each_refusal_names_its_kind(token, description):
    verify = _bearer.make_verifier([SECRET], "test")
    if description is None:  # the ttl-0 token: valid now or just expired, never anything else
        try:
            _bearer.check(["Bearer " + token], verify)
            return
        except _bearer.AuthFailure as e:
            assert e.description == "token expired"
            return
    with pytest.raises(_bearer.AuthFailure) as e:
        _bearer.check(["Bearer " + token], verify)
    assert (e.value.status, e.value.error, e.value.description) == (401, "invalid_token", description)
    assert token not in e.value.challenge


@pytest.mark.parametrize("keys", [None, [], b"", "short", [b"k" * 32, 7]])
def test_keys_are_checked_when_the_component_is_made(keys):
    with pytest.raises((kc.InvalidArgument, kc.TypeError)):
        _bearer.make_verifier(keys, "test")


# ---- FastAPI ---------------------------------------------------------------------------

def test_fastapi_shows_the_scheme_and_lets_the_app_format_refusals():
    fastapi = pytest.importorskip("fastapi")
    pytest.importorskip("httpx")  # FastAPI's TestClient
    from fastapi.responses import JSONResponse
    from fastapi.testclient import TestClient

    from keldo_crypto.fastapi import BearerAuth, BearerError

    app = fastapi.FastAPI()
    auth = BearerAuth(keys=SECRET, description="a keldo token")

    @app.get("/me")
    async def me(claims=fastapi.Depends(auth)):
        return {"sub": claims.sub}

    @app.exception_handler(BearerError)
    async def problem(request, exc):
        return JSONResponse({"error": exc.error, "why": exc.description}, exc.status_code, exc.headers)

    scheme = app.openapi()["components"]["securitySchemes"]["BearerAuth"]
    assert scheme == {"type": "http", "scheme": "bearer", "bearerFormat": "JWT",
                      "description": "a keldo token"}
    assert app.openapi()["paths"]["/me"]["get"]["security"] == [{"BearerAuth": []}]
    client = TestClient(app)
    r = client.get("/me", headers={"Authorization": "Bearer " + kc.jwt_mint(b"o" * 32, "a", "b")})
    assert r.status_code == 401 and r.json() == {"error": "invalid_token", "why": "bad signature"}
    assert r.headers["www-authenticate"].startswith('Bearer error="invalid_token"')
    assert client.get("/me", headers={"Authorization": "Bearer " + kc.jwt_mint(SECRET, "a", "b")}
                      ).json() == {"sub": "a"}


def test_starlette_middleware_closes_a_websocket_without_a_token():
    pytest.importorskip("starlette")
    pytest.importorskip("httpx")  # Starlette's TestClient
    from starlette.applications import Starlette
    from starlette.routing import WebSocketRoute
    from starlette.testclient import TestClient
    from starlette.websockets import WebSocketDisconnect

    from keldo_crypto.starlette import BearerAuthMiddleware

    async def echo(ws):
        await ws.accept()
        await ws.send_text(ws.scope["auth"].sub)
        await ws.close()

    app = BearerAuthMiddleware(Starlette(routes=[WebSocketRoute("/ws", echo)]), keys=SECRET)
    client = TestClient(app)
    with pytest.raises(WebSocketDisconnect) as e:
        with client.websocket_connect("/ws"):
            pass
    assert e.value.code == 1008
    headers = {"Authorization": "Bearer " + kc.jwt_mint(SECRET, "ws-user", "b")}
    with client.websocket_connect("/ws", headers=headers) as ws:
        assert ws.receive_text() == "ws-user"


# ---- Flask -------------------------------------------------------------------------------

def _flask_app():
    flask = pytest.importorskip("flask")
    from keldo_crypto.flask import KeldoAuth, current_claims

    app = flask.Flask(__name__)
    auth = KeldoAuth(keys=[SECRET])
    auth.init_app(app)
    api = flask.Blueprint("api", __name__)
    auth.protect(api)
    seen = []

    @api.get("/api/who")
    def who():
        return {"sub": current_claims.sub}

    @app.get("/me")
    @auth.required
    def me():
        return {"sub": current_claims.sub}

    @app.errorhandler(401)
    def unauthorized(e):
        seen.append(flask.g.get("keldo_claims", "unset"))
        return {"error": e.error, "why": e.description}, 401, {"WWW-Authenticate": e.challenge}

    app.register_blueprint(api)
    return app, seen


def test_flask_refusals_reach_the_apps_handler_and_leave_no_claims():
    app, seen = _flask_app()
    client = app.test_client()
    bad = {"Authorization": "Bearer " + kc.jwt_mint(b"o" * 32, "a", "b")}
    for path in ("/me", "/api/who"):
        r = client.get(path, headers=bad)
        assert r.status_code == 401 and r.json == {"error": "invalid_token", "why": "bad signature"}
        assert r.headers["WWW-Authenticate"].startswith('Bearer error="invalid_token"')
    assert seen == ["unset", "unset"]
    good = {"Authorization": "Bearer " + kc.jwt_mint(SECRET, "flask-user", "b")}
    assert client.get("/api/who", headers=good).json == {"sub": "flask-user"}
    r = client.get("/me", headers={"Authorization": "Bearer a b"})   # Flask's default 400 page
    assert r.status_code == 400 and 'error="invalid_request"' in r.headers["WWW-Authenticate"]


def test_flask_reads_its_keys_from_the_config():
    flask = pytest.importorskip("flask")
    from keldo_crypto.flask import KeldoAuth
    app = flask.Flask(__name__)
    with pytest.raises(kc.InvalidArgument):
        KeldoAuth(app)                        # no KELDO_AUTH_KEYS
    app.config["KELDO_AUTH_KEYS"] = SECRET
    KeldoAuth(app)


def _werkzeug_rows():
    security = pytest.importorskip("werkzeug.security")
    make = security.generate_password_hash
    pbkdf2 = make("hunter2", "pbkdf2:sha256:1000")
    method, salt, key = pbkdf2.split("$")
    import hashlib
    default_count = hashlib.pbkdf2_hmac("sha256", b"hunter2", salt.encode(),
                                        security.DEFAULT_PBKDF2_ITERATIONS).hex()
    return [
        ("pbkdf2:sha256 with a count", pbkdf2, True),
        ("Werkzeug's default method", make("hunter2"), True),
        ("pbkdf2:sha512", make("hunter2", "pbkdf2:sha512:1000"), True),
        ("salted sha256", make("hunter2", "sha256"), True),
        ("count with a leading zero", f"pbkdf2:sha256:01000${salt}${key}", True),
        ("no count (Werkzeug's default then)", f"pbkdf2:sha256${salt}${default_count}", True),
        ("upper-case hex (Werkzeug: no match)", f"{method}${salt}${key.upper()}", True),
        ("plain", "plain$$hunter2", True),
        ("not a hash", "hunter2", True),
        ("current PHC", kc.hash_password("hunter2", iterations=kc.DEFAULT_ITERATIONS), False),
        ("PHC with fewer iterations", kc.hash_password("hunter2", iterations=1000), True),
    ]


@pytest.mark.parametrize("name,stored,stale", _werkzeug_rows(), ids=[r[0] for r in _werkzeug_rows()])
def test_flask_password_helpers_answer_as_werkzeug(name, stored, stale):
    pytest.importorskip("flask")
    from werkzeug.security import check_password_hash as werkzeug_check

    from keldo_crypto.flask import check_and_rehash, check_password_hash, needs_rehash
    if not stored.startswith("$pbkdf2-sha256$"):   # Werkzeug cannot read our own form
        for password in ("hunter2", "hunter3", ""):
            assert check_password_hash(stored, password) == werkzeug_check(stored, password), password
    ok, fresh = check_and_rehash(stored, "hunter2", iterations=kc.DEFAULT_ITERATIONS)
    if name in ("not a hash", "upper-case hex (Werkzeug: no match)"):
        assert (ok, fresh) == (False, None)
        return
    assert ok is True and needs_rehash(stored) is stale
    assert (fresh is not None) is stale
    if fresh is not None:
        assert fresh.startswith("$pbkdf2-sha256$i=600000$") and kc.verify_password("hunter2", fresh)
    assert check_and_rehash(stored, "hunter3") == (False, None)


# ---- the package's own conventions -----------------------------------------------------

@pytest.mark.parametrize("call", [
    lambda: kc.jwt_verify(123, SECRET),
    lambda: kc.jwt_verify("a.b.c", 123),
    lambda: kc.jwt_mint(SECRET, 1, "e"),
    lambda: kc.jwt_mint(SECRET, "s", "e", ttl="60"),
    lambda: kc.hash_password(None),
    lambda: kc.verify_password("pw", None),
    lambda: kc.needs_rehash(b"pbkdf2_sha256$1$a$b"),
    lambda: kc.sha256("text"),
    lambda: kc.hmac_sha256(object(), b""),
    lambda: kc.compare_digest(1, b""),
    lambda: kc.compare_digest("a", b"a"),
    lambda: kc.pbkdf2_sha256("pw", b"salt", "10"),
    lambda: kc.b64decode(3.5),
    lambda: kc.KeyRing(b"k" * 32),            # a secret where a list of keys belongs
    lambda: kc.TokenKey(42),
])
def test_wrong_types_raise_a_typeerror_that_is_also_a_keldo_error(call):
    with pytest.raises(builtins.TypeError) as e:
        call()
    assert isinstance(e.value, kc.KeldoError) and isinstance(e.value, kc.TypeError)


@pytest.mark.parametrize("stored", [
    "pbkdf2_sha256$1000$s\ud800lt$aGFzaA==", "\udfff", "$pbkdf2-sha256$i=1000$\ud83d$x",
])
def test_a_lone_surrogate_in_a_stored_hash_is_malformed(stored):
    for call in (lambda: kc.verify_password("pw", stored), lambda: kc.needs_rehash(stored)):
        with pytest.raises(kc.MalformedHash):
            call()
