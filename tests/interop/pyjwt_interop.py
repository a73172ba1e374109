"""Tokens exchanged between the shipped library (loaded with ctypes) and
PyJWT, an independent HS256 implementation, in both directions.

Usage: pyjwt_interop.py PATH_TO_LIBKELDO_CRYPTO_SO
Runs on the real clock: every time window below is minutes wide.
"""

import ctypes
import sys
import time
import unittest

import jwt

LIB_PATH = None


def load(path):
    lib = ctypes.CDLL(path)
    lib.keldo_jwt_mint.restype = ctypes.c_char_p
    lib.keldo_jwt_mint.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_char_p,
                                   ctypes.c_uint32]
    lib.keldo_jwt_verify.restype = ctypes.c_int32
    lib.keldo_jwt_verify.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_char_p,
                                     ctypes.c_char_p, ctypes.POINTER(ctypes.c_int64)]
    lib.keldo_crypto_last_error.restype = ctypes.c_char_p
    lib.keldo_crypto_last_error.argtypes = []
    return lib


class Interop(unittest.TestCase):
    SECRETS = [b"interop-secret", b"", b"k" * 100]  # 100 bytes: the key is hashed first
    SUBJECTS = [("user-17", "user17@example.com"),
                ("Jos\u00e9 \u2603 \U0001F600", "\u00fcber@example.com"),
                ('quote " backslash \\ slash / tab \t', "x@y")]

    @classmethod
    def setUpClass(cls):
        cls.lib = load(LIB_PATH)

    def mint(self, secret, sub, email, ttl):
        token = self.lib.keldo_jwt_mint(secret, sub.encode(), email.encode(), ttl)
        self.assertIsNotNone(token, self.last_error())
        return token.decode("ascii")

    def verify(self, secret, token):
        sub = ctypes.create_string_buffer(64)
        email = ctypes.create_string_buffer(128)
        exp = ctypes.c_int64(0)
        rc = self.lib.keldo_jwt_verify(secret, token.encode("ascii"), sub, email,
                                       ctypes.byref(exp))
        return rc, sub.value.decode(), email.value.decode(), exp.value

    def last_error(self):
        return self.lib.keldo_crypto_last_error().decode()

    def test_pyjwt_reads_minted_tokens(self):
        for secret in self.SECRETS:
            for sub, email in self.SUBJECTS:
                with self.subTest(secret=secret, sub=sub):
                    before = int(time.time())
                    token = self.mint(secret, sub, email, 600)
                    after = int(time.time())
                    self.assertEqual(jwt.get_unverified_header(token),
                                     {"alg": "HS256", "typ": "JWT"})
                    claims = jwt.decode(token, secret, algorithms=["HS256"], issuer="keldo",
                                        options={"require": ["sub", "iss", "exp", "nbf"]})
                    self.assertEqual(list(claims), ["sub", "email", "iss", "exp", "nbf"])
                    self.assertEqual(claims["sub"], sub)
                    self.assertEqual(claims["email"], email)
                    self.assertEqual(claims["iss"], "keldo")
                    self.assertTrue(before <= claims["nbf"] <= after)
                    self.assertEqual(claims["exp"], claims["nbf"] + 600)

    def test_pyjwt_refuses_a_wrong_secret_and_an_expired_token(self):
        token = self.mint(b"interop-secret", "u", "u@x", 600)
        with self.assertRaises(jwt.InvalidSignatureError):
            jwt.decode(token, b"interop-secreT", algorithms=["HS256"])
        # Lifetime 0: exp is the minting second, which PyJWT (no grace at
        # exp, unlike the library) already counts as expired.
        token = self.mint(b"interop-secret", "u", "u@x", 0)
        with self.assertRaises(jwt.ExpiredSignatureError):
            jwt.decode(token, b"interop-secret", algorithms=["HS256"])

    def test_library_verifies_pyjwt_tokens(self):
        for secret in self.SECRETS:
            for sub, email in self.SUBJECTS:
                with self.subTest(secret=secret, sub=sub):
                    now = int(time.time())
                    claims = {"sub": sub, "email": email, "iss": "keldo", "exp": now + 600,
                              "nbf": now}
                    token = jwt.encode(claims, secret, algorithm="HS256")
                    self.assertEqual(self.verify(secret, token), (0, sub, email, now + 600),
                                     self.last_error())
        # Other header members, other member order, extra claims.
        now = int(time.time())
        token = jwt.encode({"iat": now, "exp": now + 60, "email": "e", "iss": "keldo",
                            "sub": "s", "aud": "svc"}, b"k", algorithm="HS256",
                           headers={"kid": "key-1"})
        self.assertEqual(self.verify(b"k", token), (0, "s", "e", now + 60), self.last_error())

    def test_library_refuses_pyjwt_tokens(self):
        now = int(time.time())
        good = {"sub": "s", "email": "e", "iss": "keldo", "exp": now + 600, "nbf": now}
        cases = [
            ("wrong secret", jwt.encode(good, b"other", algorithm="HS256"),
             "jwt_verify: signature verification failed"),
            ("expired", jwt.encode(dict(good, exp=now - 120), b"k", algorithm="HS256"),
             "jwt_verify: token has expired"),
            ("not yet valid", jwt.encode(dict(good, nbf=now + 600, exp=now + 1200), b"k",
                                         algorithm="HS256"),
             "jwt_verify: token is not valid yet (nbf in future)"),
            ("other issuer", jwt.encode(dict(good, iss="other"), b"k", algorithm="HS256"),
             "jwt_verify: invalid or missing 'iss' claim"),
            ("HS384", jwt.encode(good, b"k", algorithm="HS384"),
             "jwt_verify: invalid signature format or length"),
            ("alg none", jwt.encode(good, None, algorithm="none"),
             "jwt_verify: invalid signature format or length"),
        ]
        for what, token, message in cases:
            with self.subTest(what):
                rc, _, _, _ = self.verify(b"k", token)
                self.assertEqual(rc, -1)
                self.assertEqual(self.last_error(), message)


if __name__ == "__main__":
    LIB_PATH = sys.argv.pop(1)
    unittest.main(verbosity=1)
