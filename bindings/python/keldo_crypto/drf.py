"""Bearer-token authentication for Django REST framework.

    # settings.py
    KELDO_AUTH_KEYS = [current, previous]          # current first
    REST_FRAMEWORK = {
        "DEFAULT_AUTHENTICATION_CLASSES": ["keldo_crypto.drf.BearerAuthentication"],
        "DEFAULT_PERMISSION_CLASSES": ["rest_framework.permissions.IsAuthenticated"],
    }

A request with a valid token gets request.auth (the Claims) and
request.user, the user whose username is the token's sub; override
get_user(claims) to look users up otherwise. A request without bearer
credentials is left to the next authentication class and to the view's
permissions (public views stay public; a protected one answers 401 with
"WWW-Authenticate: Bearer"). A refused token is 401 with
error="invalid_token" and a description naming the kind; a malformed
Authorization header is 400 with error="invalid_request". Put this class
first in DEFAULT_AUTHENTICATION_CLASSES, so that DRF's 401 challenge is
Bearer. Needs Django REST framework (Debian: python3-djangorestframework).
"""

from __future__ import annotations

from typing import Any, Callable, Optional

from django.conf import settings
from django.contrib.auth import get_user_model
from django.core.signals import setting_changed
from rest_framework import exceptions
from rest_framework.authentication import BaseAuthentication

from ._bearer import AuthFailure, authorization, failure, make_verifier
from ._errors import TokenError
from ._tokens import Claims

__all__ = ["BearerAuthentication", "BearerAuthenticationFailed", "OptionalBearerAuthentication"]

SETTING = "KELDO_AUTH_KEYS"


class BearerAuthenticationFailed(exceptions.AuthenticationFailed):
    """A refusal with its own status and challenge: DRF's view would put the
    first authentication class's challenge on it (or turn it into 403 when
    that class has none); this one keeps the challenge naming the error."""

    def __init__(self, failure: AuthFailure) -> None:
        super().__init__(failure.description, failure.error)
        self.error = failure.error
        self._failure = failure

    @property
    def status_code(self) -> int:
        return self._failure.status

    @status_code.setter
    def status_code(self, value: int) -> None:
        pass

    @property
    def auth_header(self) -> str:
        return self._failure.challenge

    @auth_header.setter
    def auth_header(self, value: str) -> None:
        pass


_UNKNOWN_USER = (401, "invalid_token", "unknown or inactive user")

_verifiers: dict[int, tuple[Any, Callable[[str], Claims]]] = {}


def _verifier() -> Callable[[str], Claims]:
    keys = getattr(settings, SETTING, None)
    cached = _verifiers.get(id(keys))
    if cached is None or cached[0] is not keys:
        cached = (keys, make_verifier(keys, f"settings.{SETTING}"))
        _verifiers.clear()
        _verifiers[id(keys)] = cached
    return cached[1]


def _reset(setting: str, **_: Any) -> None:
    if setting == SETTING:
        _verifiers.clear()


setting_changed.connect(_reset)


class BearerAuthentication(BaseAuthentication):
    """request.auth: the Claims; request.user: get_user(claims)."""

    def authenticate(self, request: Any) -> Optional[tuple[Any, Claims]]:
        header = request.META.get("HTTP_AUTHORIZATION")
        try:
            # The server joins repeated fields into one value with commas.
            token = authorization(() if header is None else (header,))
        except AuthFailure as e:
            raise BearerAuthenticationFailed(e) from None
        if token is None:
            return None  # not ours: the next class, or the view's permissions
        try:
            claims = _verifier()(token)
        except TokenError as e:
            raise BearerAuthenticationFailed(failure(e)) from None
        user = self.get_user(claims)
        if user is None or not getattr(user, "is_active", True):
            raise BearerAuthenticationFailed(AuthFailure(*_UNKNOWN_USER))
        return user, claims

    def get_user(self, claims: Claims) -> Any:
        """The user a valid token stands for, or None (refused as an unknown
        user). By default the user model's user whose USERNAME_FIELD is sub."""
        model = get_user_model()
        try:
            return model._default_manager.get(**{model.USERNAME_FIELD: claims.sub})
        except model.DoesNotExist:
            return None

    def authenticate_header(self, request: Any) -> str:
        return "Bearer"


class OptionalBearerAuthentication(BearerAuthentication):
    """As BearerAuthentication, but a refused or malformed token is taken as
    no credentials (anonymous), never answered with an error."""

    def authenticate(self, request: Any) -> Optional[tuple[Any, Claims]]:
        try:
            return super().authenticate(request)
        except BearerAuthenticationFailed:
            return None
