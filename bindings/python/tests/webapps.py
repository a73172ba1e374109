"""One small application per framework, each with the same routes served
twice: by keldo_crypto's component (/ours/...) and by the stack people use
today (/peer/...), both configured for HS256, issuer "keldo" and the same
secret. The web tests and the benchmark serve them on 127.0.0.1 with the
framework's usual server:

    python3 webapps.py fastapi|flask|drf [--fast]

prints "port N" once it listens and serves until it is stopped. The secret
is the hex of $KELDO_WEB_SECRET. --fast: uvicorn with uvloop and httptools,
no access log (the documented fastest setting, for the benchmark).

Routes: /ours/me and /peer/me answer {"sub", "email", "exp", "key"} of a
valid token (key: the matching key's position, ours only); /ours/optional answers {"sub": sub or null}; /public needs nothing.
The FastAPI app also mounts a Starlette app under /mw with
BearerAuthMiddleware (/mw/me).
"""

import os
import socket
import sys
import tempfile
from functools import wraps

import jwt  # PyJWT: the peers' token check

SECRET = bytes.fromhex(os.environ.get("KELDO_WEB_SECRET", "6b" * 32))
# Ours accept tokens of the previous key too (a key ring, current first);
# the peers take one key, as PyJWT's decode does.
PREVIOUS = bytes.fromhex(os.environ.get("KELDO_WEB_PREVIOUS", "70" * 32))
KEYS = [SECRET, PREVIOUS]
ISSUER = "keldo"


def _peer_decode(token):
    # PyJWT as its documentation configures it for HS256 and an issuer.
    return jwt.decode(token, SECRET, algorithms=["HS256"], issuer=ISSUER,
                      options={"require": ["exp", "iss", "sub"]})


def _view(claims):
    # claims.key: the position of the matching key in our ring
    return {"sub": claims["sub"], "email": claims.get("email"), "exp": claims["exp"],
            "key": getattr(claims, "key", None)}


# ---- FastAPI and Starlette ----------------------------------------------------------

def fastapi_app():
    from fastapi import Depends, FastAPI, HTTPException, Security
    from fastapi.security import HTTPAuthorizationCredentials, HTTPBearer
    from starlette.applications import Starlette
    from starlette.middleware import Middleware
    from starlette.responses import JSONResponse
    from starlette.routing import Route

    from keldo_crypto.fastapi import BearerAuth, OptionalBearerAuth
    from keldo_crypto.starlette import BearerAuthMiddleware

    auth = BearerAuth(keys=KEYS)
    maybe = OptionalBearerAuth(keys=KEYS)
    bearer = HTTPBearer()  # FastAPI's own scheme, as its security tutorial uses it

    async def peer_claims(credentials: HTTPAuthorizationCredentials = Security(bearer)):
        try:
            return _peer_decode(credentials.credentials)
        except jwt.PyJWTError:
            raise HTTPException(401, "Could not validate credentials",
                                headers={"WWW-Authenticate": "Bearer"}) from None

    app = FastAPI()

    @app.get("/ours/me")
    async def ours_me(claims=Depends(auth)):
        return _view(claims)

    @app.get("/ours/optional")
    async def ours_optional(claims=Depends(maybe)):
        return {"sub": claims.sub if claims else None}

    @app.get("/peer/me")
    async def peer_me(claims=Depends(peer_claims)):
        return _view(claims)

    @app.get("/public")
    async def public():
        return {"public": True}

    async def mw_me(request):
        return JSONResponse(_view(request.auth))

    app.mount("/mw", Starlette(routes=[Route("/me", mw_me)],
                               middleware=[Middleware(BearerAuthMiddleware, keys=KEYS)]))
    return app


def serve_fastapi(fast):

    import uvicorn
    sock = socket.socket()
    sock.bind(("127.0.0.1", 0))
    sock.listen(2048)  # connections wait in the backlog until uvicorn accepts them
    options = {"loop": "uvloop", "http": "httptools"} if fast else {"loop": "asyncio", "http": "h11"}
    config = uvicorn.Config(fastapi_app(), access_log=False, log_level="warning", **options)
    server = uvicorn.Server(config)
    print(f"port {sock.getsockname()[1]}", flush=True)
    server.run(sockets=[sock])


# ---- Flask ----------------------------------------------------------------------------

def flask_app():
    from flask import Flask, g, jsonify, request

    from keldo_crypto.flask import KeldoAuth, current_claims

    app = Flask(__name__)
    app.config["KELDO_AUTH_KEYS"] = KEYS
    auth = KeldoAuth(app)

    def token_required(view):
        # The decorator Flask tutorials write around PyJWT.
        @wraps(view)
        def decorated(*args, **kwargs):
            header = request.headers.get("Authorization", "")
            if not header.startswith("Bearer "):
                return jsonify(message="Token is missing"), 401
            token = header.split(" ")[1]
            try:
                g.claims = _peer_decode(token)
            except jwt.PyJWTError:
                return jsonify(message="Token is invalid"), 401
            return view(*args, **kwargs)
        return decorated

    @app.get("/ours/me")
    @auth.required
    def ours_me():
        return _view(current_claims)

    @app.get("/ours/optional")
    @auth.optional
    def ours_optional():
        return {"sub": current_claims.sub if current_claims else None}

    @app.get("/peer/me")
    @token_required
    def peer_me():
        return _view(g.claims)

    @app.get("/public")
    def public():
        return {"public": True}

    return app


def serve_flask(fast):
    from werkzeug.serving import make_server
    server = make_server("127.0.0.1", 0, flask_app(), threaded=True)
    print(f"port {server.server_port}", flush=True)
    server.serve_forever()


# ---- Django REST framework --------------------------------------------------------------

# Users for every sub the tests send, so that a refusal is the token's.
USERS = ("user-42", "zo\u00eb-\u65e5\u672c", "x" * 64)


def drf_setup(database):
    import django
    from django.conf import settings
    settings.configure(
        DEBUG=False,
        ALLOWED_HOSTS=["127.0.0.1", "localhost"],
        SECRET_KEY="webapps-not-secret",
        ROOT_URLCONF=__name__,
        INSTALLED_APPS=["django.contrib.auth", "django.contrib.contenttypes", "rest_framework"],
        DATABASES={"default": {"ENGINE": "django.db.backends.sqlite3", "NAME": database}},
        MIDDLEWARE=[],
        USE_TZ=True,
        KELDO_AUTH_KEYS=KEYS,
        REST_FRAMEWORK={"DEFAULT_RENDERER_CLASSES": ["rest_framework.renderers.JSONRenderer"],
                        "UNAUTHENTICATED_USER": None},
        # djangorestframework-simplejwt (over PyJWT), set for tokens that
        # name their user in "sub" and carry no token type or id.
        SIMPLE_JWT={"ALGORITHM": "HS256", "SIGNING_KEY": SECRET, "ISSUER": ISSUER,
                    "USER_ID_CLAIM": "sub", "USER_ID_FIELD": "username",
                    "TOKEN_TYPE_CLAIM": None, "JTI_CLAIM": None,
                    "AUTH_TOKEN_CLASSES": ("rest_framework_simplejwt.tokens.UntypedToken",)},
    )
    django.setup()
    from django.contrib.auth.models import User
    from django.core.management import call_command
    call_command("migrate", verbosity=0, run_syncdb=True)
    for name in USERS:
        User.objects.get_or_create(username=name, email=name + "@example.org")
    User.objects.get_or_create(username="inactive", is_active=False)


def _drf_urls():
    from django.contrib.auth.models import User
    from django.urls import path
    from rest_framework.permissions import AllowAny, IsAuthenticated
    from rest_framework.response import Response
    from rest_framework.views import APIView
    from rest_framework_simplejwt.authentication import JWTAuthentication

    from keldo_crypto.drf import BearerAuthentication, OptionalBearerAuthentication

    class OursMe(APIView):
        authentication_classes = [BearerAuthentication]
        permission_classes = [IsAuthenticated]

        def get(self, request):
            assert request.user.username == request.auth.sub
            return Response(_view(request.auth))

    class OursOptional(APIView):
        authentication_classes = [OptionalBearerAuthentication]
        permission_classes = [AllowAny]

        def get(self, request):
            return Response({"sub": request.auth.sub if request.auth else None})

    class ByEmail(BearerAuthentication):
        # The documented hook: users found by the token's email instead.
        def get_user(self, claims):
            return User.objects.filter(email=claims.email).first()

    class OursByEmail(OursMe):
        authentication_classes = [ByEmail]

        def get(self, request):
            return Response({"user": request.user.username, "sub": request.auth.sub})

    class PeerMe(APIView):
        authentication_classes = [JWTAuthentication]
        permission_classes = [IsAuthenticated]

        def get(self, request):
            return Response(_view(request.auth.payload))

    class Public(APIView):
        authentication_classes = []
        permission_classes = [AllowAny]

        def get(self, request):
            return Response({"public": True})

    return [path("ours/me", OursMe.as_view()), path("ours/optional", OursOptional.as_view()),
            path("ours/by-email", OursByEmail.as_view()), path("peer/me", PeerMe.as_view()), path("public", Public.as_view())]


def __getattr__(name):
    # ROOT_URLCONF is this module: Django reads urlpatterns once set up.
    if name == "urlpatterns":
        return _drf_urls()
    raise AttributeError(name)


def serve_drf(fast):
    import socketserver

    from django.core.servers.basehttp import WSGIRequestHandler, WSGIServer

    folder = tempfile.mkdtemp(prefix="keldo-drf-")
    drf_setup(os.path.join(folder, "db.sqlite3"))
    from django.core.wsgi import get_wsgi_application

    # What "manage.py runserver" serves with: Django's threaded WSGIServer.
    server_class = type("Threaded", (socketserver.ThreadingMixIn, WSGIServer),
                        {"daemon_threads": True})

    class Quiet(WSGIRequestHandler):
        def log_message(self, *args):
            pass

    server = server_class(("127.0.0.1", 0), Quiet, ipv6=False)
    server.set_app(get_wsgi_application())
    print(f"port {server.server_address[1]}", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    kind = sys.argv[1]
    {"fastapi": serve_fastapi, "flask": serve_flask, "drf": serve_drf}[kind]("--fast" in sys.argv)
