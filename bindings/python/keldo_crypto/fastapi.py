"""Bearer-token authentication for FastAPI: a dependency that gives the
route the claims, shown on the OpenAPI page as an HTTP bearer scheme.

    from fastapi import Depends, FastAPI
    from keldo_crypto.fastapi import BearerAuth

    auth = BearerAuth(keys=[current, previous])
    app = FastAPI()

    @app.get("/api/me")
    def me(claims=Depends(auth)):
        return {"sub": claims.sub}

A refused request raises BearerError, an HTTPException carrying the status
and the WWW-Authenticate challenge, so FastAPI's default handler already
answers it as RFC 6750 asks; an exception handler of the app's own can
format the body (error, description). Needs FastAPI (Debian: python3-fastapi).
"""

# No "from __future__ import annotations": FastAPI reads the annotation of
# __call__ (HTTPConnection) as an object, and an instance has no globals to
# resolve a string in.

from typing import Optional

from fastapi import HTTPException
from fastapi.openapi.models import HTTPBearer as _HTTPBearerModel
from fastapi.security.base import SecurityBase
from starlette.requests import HTTPConnection

from ._bearer import AuthFailure, Keys, asgi_authorization, check, make_verifier
from ._tokens import Claims

__all__ = ["BearerAuth", "BearerError", "OptionalBearerAuth"]


class BearerError(HTTPException):
    """A refused request: status_code 401 (400 for a malformed header),
    headers with the WWW-Authenticate challenge, detail the description;
    error is None (no credentials), "invalid_request" or "invalid_token"."""

    def __init__(self, failure: AuthFailure) -> None:
        super().__init__(failure.status, failure.description, failure.headers)
        self.error = failure.error
        self.description = failure.description


class BearerAuth(SecurityBase):
    """A dependency: the claims of the request's bearer token, or BearerError.

    keys: a secret (str or bytes), a list of secrets or TokenKeys with the
    current one first, a TokenKey or a KeyRing; claims.key is the position of
    the key that matched. scheme_name and description are what the OpenAPI
    page shows.
    """

    def __init__(self, keys: Keys, *, scheme_name: Optional[str] = None,
                 description: Optional[str] = None) -> None:
        self._verify = make_verifier(keys, type(self).__name__)
        self.model = _HTTPBearerModel(bearerFormat="JWT", description=description)
        self.scheme_name = scheme_name or "BearerAuth"

    async def __call__(self, request: HTTPConnection) -> Claims:
        try:
            return check(asgi_authorization(request.scope), self._verify)
        except AuthFailure as e:
            raise BearerError(e) from None


class OptionalBearerAuth(BearerAuth):
    """As BearerAuth, for routes that serve everyone: the claims of a valid
    token, else None (never a refusal)."""

    async def __call__(self, request: HTTPConnection) -> Optional[Claims]:  # type: ignore[override]
        try:
            return check(asgi_authorization(request.scope), self._verify)
        except AuthFailure:
            return None


