"""Bearer-token authentication for Flask, and password helpers that read
the hashes Werkzeug's generate_password_hash stored.

    from flask import Flask
    from keldo_crypto.flask import KeldoAuth, current_claims

    app = Flask(__name__)
    app.config["KELDO_AUTH_KEYS"] = [current, previous]
    auth = KeldoAuth(app)            # or KeldoAuth() and auth.init_app(app)

    @app.get("/api/me")
    @auth.required
    def me():
        return {"sub": current_claims.sub}

The claims of the request are g.keldo_claims, also read through the
current_claims proxy. A refused request raises Unauthorized (401) or, for a
malformed Authorization header, BadRequest (400): Werkzeug's classes, with
the WWW-Authenticate challenge RFC 6750 asks for, so Flask's default
handling already answers them and @app.errorhandler(401) can format the
body. Needs Flask (Debian: python3-flask).
"""

from __future__ import annotations

import functools
from typing import Any, Callable, Optional, TypeVar, cast

from flask import Flask, current_app, g, request
from werkzeug import exceptions as _wz
from werkzeug.local import LocalProxy

from . import DEFAULT_ITERATIONS, hash_password
from . import needs_rehash as _needs_rehash
from . import verify_password
from ._bearer import AuthFailure, Keys, check, make_verifier
from ._errors import MalformedHash
from ._tokens import Claims

__all__ = ["BadRequest", "KeldoAuth", "Unauthorized", "check_and_rehash", "check_password_hash",
           "current_claims", "generate_password_hash", "needs_rehash"]

F = TypeVar("F", bound=Callable[..., Any])
_EXTENSION = "keldo_auth"


class _Challenge:
    """The RFC 6750 parts of a refusal, on top of Werkzeug's exception."""

    error: Optional[str]
    challenge: str

    def get_headers(self, environ: Any = None, scope: Any = None) -> list[tuple[str, str]]:
        headers: list[tuple[str, str]] = super().get_headers(environ, scope)  # type: ignore[misc]
        headers.append(("WWW-Authenticate", self.challenge))
        return headers


class Unauthorized(_Challenge, _wz.Unauthorized):
    """401: no bearer token, or a token the library refused (error is None
    or "invalid_token"; description names the kind)."""


class BadRequest(_Challenge, _wz.BadRequest):
    """400: an Authorization header that names Bearer but is malformed, or
    more than one Authorization header (error "invalid_request")."""


def _exception(failure: AuthFailure) -> _wz.HTTPException:
    e: Any = (BadRequest if failure.status == 400 else Unauthorized)(failure.description)
    e.error, e.challenge = failure.error, failure.challenge
    return cast(_wz.HTTPException, e)


def _claims() -> Optional[Claims]:
    return cast(Optional[Claims], g.get("keldo_claims"))


# The claims of the current request: None where no valid token was given.
current_claims: Claims = cast(Claims, LocalProxy(_claims))


class KeldoAuth:
    """The extension. keys: a secret (str or bytes), a list of secrets or
    TokenKeys with the current one first, a TokenKey or a KeyRing; without
    it, init_app reads app.config["KELDO_AUTH_KEYS"]. claims.key is the
    position of the key that matched."""

    def __init__(self, app: Optional[Flask] = None, *, keys: Optional[Keys] = None) -> None:
        self._keys = keys
        if app is not None:
            self.init_app(app)

    def init_app(self, app: Flask) -> None:
        keys = self._keys if self._keys is not None else app.config.get("KELDO_AUTH_KEYS")
        app.extensions[_EXTENSION] = make_verifier(keys, "KeldoAuth")

    def authenticate(self) -> Claims:
        """The claims of the current request, also put on g.keldo_claims;
        raises Unauthorized or BadRequest when there are none."""
        verify = current_app.extensions[_EXTENSION]
        try:
            claims = check(request.headers.getlist("Authorization"), verify)
        except AuthFailure as e:
            raise _exception(e) from None
        g.keldo_claims = claims
        return claims

    def required(self, view: F) -> F:
        """Decorates a view that needs a valid token."""
        @functools.wraps(view)
        def wrapper(*args: Any, **kwargs: Any) -> Any:
            self.authenticate()
            return current_app.ensure_sync(view)(*args, **kwargs)
        return cast(F, wrapper)

    def optional(self, view: F) -> F:
        """Decorates a view that serves everyone: g.keldo_claims is the
        claims of a valid token, else None; nothing is refused."""
        @functools.wraps(view)
        def wrapper(*args: Any, **kwargs: Any) -> Any:
            try:
                self.authenticate()
            except (Unauthorized, BadRequest):
                g.keldo_claims = None
            return current_app.ensure_sync(view)(*args, **kwargs)
        return cast(F, wrapper)

    def protect(self, scaffold: Any) -> None:
        """Every view of a blueprint (or an app) needs a valid token:
        auth.protect(api_blueprint)."""
        def before() -> None:
            self.authenticate()
        scaffold.before_request(before)


# ---- passwords ------------------------------------------------------------------

def check_password_hash(pwhash: str, password: str) -> bool:
    """Werkzeug's check_password_hash(pwhash, password), by the library for
    the PBKDF2-HMAC-SHA256 forms it reads (Werkzeug's "pbkdf2:sha256:N$...",
    and the PHC form generate_password_hash below writes), and by Werkzeug's
    own code for what the library does not read (other methods, a count
    written with a leading zero, no count): the same answer as Werkzeug's."""
    return check_and_rehash(pwhash, password)[0]


def check_and_rehash(pwhash: str, password: str, *,
                     iterations: int = DEFAULT_ITERATIONS) -> tuple[bool, Optional[str]]:
    """(matches, new hash): on a match with a stored hash that should be
    replaced (not the PHC form, or fewer than iterations), a fresh hash to
    store in its place; else None."""
    try:
        ok = verify_password(password, pwhash)
        stale = ok and _needs_rehash(pwhash, iterations=iterations)
    except MalformedHash:
        from werkzeug.security import check_password_hash as werkzeug_check
        ok = stale = werkzeug_check(pwhash, password)
    return ok, (hash_password(password, iterations=iterations) if stale else None)


def needs_rehash(pwhash: str, *, iterations: int = DEFAULT_ITERATIONS) -> bool:
    """Whether pwhash should be replaced at the next login: true for every
    Werkzeug hash (the PHC form is the one written now) and for one of
    fewer than iterations."""
    try:
        return _needs_rehash(pwhash, iterations=iterations)
    except MalformedHash:
        return True


def generate_password_hash(password: str, *, iterations: int = DEFAULT_ITERATIONS) -> str:
    """A PHC string "$pbkdf2-sha256$i=N$SALT$HASH" (keldo_crypto.hash_password)."""
    return hash_password(password, iterations=iterations)
