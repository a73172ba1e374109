"""Bearer-token authentication for Starlette applications without FastAPI:
an ASGI middleware that puts the claims on request.auth.

    from starlette.middleware import Middleware
    from starlette.routing import Mount, Route
    from keldo_crypto.starlette import BearerAuthMiddleware

    routes = [
        Route("/health", health),                                  # public
        Mount("/api", routes=[Route("/me", me)],
              middleware=[Middleware(BearerAuthMiddleware, keys=[current, previous])]),
    ]

Every HTTP request through it either carries a valid token (scope["auth"]
holds its Claims, read as request.auth) or is answered here, with the
status and the WWW-Authenticate challenge RFC 6750 asks for and a JSON body
{"detail": description}, as FastAPI's default handler writes it. A
WebSocket without a valid token is closed before it is accepted (code 1008).
With optional=True nothing is refused: request.auth is the claims or None.
Needs Starlette (Debian: python3-starlette).
"""

from __future__ import annotations

from typing import Any, Awaitable, Callable, MutableMapping

from starlette.responses import JSONResponse

from ._bearer import AuthFailure, Keys, asgi_authorization, check, make_verifier

__all__ = ["BearerAuthMiddleware"]

Scope = MutableMapping[str, Any]
Receive = Callable[[], Awaitable[MutableMapping[str, Any]]]
Send = Callable[[MutableMapping[str, Any]], Awaitable[None]]
ASGIApp = Callable[[Scope, Receive, Send], Awaitable[None]]

POLICY_VIOLATION = 1008  # RFC 6455 7.4.1


class BearerAuthMiddleware:
    def __init__(self, app: ASGIApp, keys: Keys, optional: bool = False) -> None:
        self.app = app
        self.optional = optional
        self._verify = make_verifier(keys, "BearerAuthMiddleware")

    async def __call__(self, scope: Scope, receive: Receive, send: Send) -> None:
        kind = scope["type"]
        if kind != "http" and kind != "websocket":
            await self.app(scope, receive, send)  # lifespan
            return
        try:
            claims = check(asgi_authorization(scope), self._verify)
        except AuthFailure as e:
            if not self.optional:
                await self._refuse(e, kind, scope, receive, send)
                return
            claims = None
        scope["auth"] = claims
        await self.app(scope, receive, send)

    @staticmethod
    async def _refuse(failure: AuthFailure, kind: str, scope: Scope, receive: Receive,
                      send: Send) -> None:
        if kind == "websocket":
            await send({"type": "websocket.close", "code": POLICY_VIOLATION})
            return
        response = JSONResponse({"detail": failure.description}, status_code=failure.status,
                                headers=failure.headers)
        await response(scope, receive, send)
