"""The reentrant token functions of the shipped library (loaded with ctypes)
against PyJWT: keys of random bytes that hold NUL bytes, in both
directions, and every verification status on a token PyJWT signed.

Usage: pyjwt_interop_r.py PATH_TO_LIBKELDO_CRYPTO_SO
Runs on the real clock: every time window below is minutes wide.
"""

import base64
import ctypes
import json
import random
import sys
import time
import unittest

import jwt

LIB_PATH = None
TOKEN_MAX = 2129  # KELDO_JWT_TOKEN_MAX

# The codes as the header defines them.
CODES = {
    "OK": 0, "VERIFY_NULL_ARGUMENT": -102, "VERIFY_EMPTY_SECRET": -104,
    "MISSING_FIRST_DOT": -301, "MISSING_SECOND_DOT": -302, "EXTRA_SEGMENTS": -303,
    "SIGNATURE_FORMAT": -304, "PAYLOAD_TOO_LONG": -305, "PAYLOAD_BASE64": -306,
    "PAYLOAD_JSON": -307, "PAYLOAD_NOT_OBJECT": -308, "BAD_SIGNATURE": -401,
    "EXPIRED": -501, "NOT_YET_VALID": -601, "ISS_CLAIM": -701, "MISSING_EXP": -702,
    "MISSING_SUB": -703, "INVALID_SUB": -704, "MISSING_EMAIL": -705, "INVALID_EMAIL": -706,
}


def load(path):
    lib = ctypes.CDLL(path)
    lib.keldo_jwt_mint_r.restype = ctypes.c_int32
    lib.keldo_jwt_mint_r.argtypes = [ctypes.c_void_p, ctypes.c_uint64, ctypes.c_char_p,
                                     ctypes.c_char_p, ctypes.c_uint32, ctypes.c_char_p,
                                     ctypes.c_uint64, ctypes.POINTER(ctypes.c_uint64)]
    lib.keldo_jwt_verify_r.restype = ctypes.c_int32
    lib.keldo_jwt_verify_r.argtypes = [ctypes.c_void_p, ctypes.c_uint64, ctypes.c_char_p,
                                       ctypes.c_char_p, ctypes.c_char_p,
                                       ctypes.POINTER(ctypes.c_int64)]
    lib.keldo_jwt_verify.restype = ctypes.c_int32
    lib.keldo_jwt_verify.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_char_p,
                                     ctypes.c_char_p, ctypes.POINTER(ctypes.c_int64)]
    lib.keldo_crypto_status_text.restype = ctypes.c_char_p
    lib.keldo_crypto_status_text.argtypes = [ctypes.c_int32]
    lib.keldo_crypto_last_error.restype = ctypes.c_char_p
    lib.keldo_crypto_last_error.argtypes = []
    return lib


def b64url(data):
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


def keys_with_nul(n, seed):
    """Random 32-byte keys, as secrets.token_bytes(32) gives them, that hold
    at least one NUL byte (about one in nine does)."""
    rng = random.Random(seed)
    keys = []
    while len(keys) < n:
        k = bytes(rng.getrandbits(8) for _ in range(32))
        if b"\0" in k:
            keys.append(k)
    return keys


class InteropR(unittest.TestCase):
    KEYS = keys_with_nul(40, 21) + [b"\0", b"\0" * 32, b"a\0b", b"\0" + b"k" * 99]

    @classmethod
    def setUpClass(cls):
        cls.lib = load(LIB_PATH)

    def mint(self, key, sub, email, ttl):
        out = ctypes.create_string_buffer(TOKEN_MAX)
        size = ctypes.c_uint64(0)
        rc = self.lib.keldo_jwt_mint_r(key, len(key), sub.encode(), email.encode(), ttl, out,
                                       TOKEN_MAX, ctypes.byref(size))
        self.assertEqual(rc, 0, self.text(rc))
        self.assertEqual(size.value, len(out.value) + 1)
        return out.value.decode("ascii")

    def verify(self, key, token):
        sub = ctypes.create_string_buffer(64)
        email = ctypes.create_string_buffer(128)
        exp = ctypes.c_int64(0)
        rc = self.lib.keldo_jwt_verify_r(key, len(key), token.encode("ascii"), sub, email,
                                         ctypes.byref(exp))
        return rc, sub.value.decode(), email.value.decode(), exp.value

    def text(self, code):
        return self.lib.keldo_crypto_status_text(code).decode()

    def test_pyjwt_reads_tokens_minted_with_nul_keys(self):
        for key in self.KEYS:
            with self.subTest(key=key.hex()):
                before = int(time.time())
                token = self.mint(key, "user-17", "user17@example.com", 600)
                after = int(time.time())
                claims = jwt.decode(token, key, algorithms=["HS256"], issuer="keldo",
                                    options={"require": ["sub", "iss", "exp", "nbf"]})
                self.assertEqual(claims["sub"], "user-17")
                self.assertEqual(claims["email"], "user17@example.com")
                self.assertTrue(before <= claims["nbf"] <= after)
                self.assertEqual(claims["exp"], claims["nbf"] + 600)
                # The key cut at its first NUL is another key to PyJWT too,
                # unless only NUL bytes followed (HMAC pads keys with them).
                cut = key.split(b"\0")[0]
                if key.rstrip(b"\0") != cut:
                    with self.assertRaises(jwt.InvalidSignatureError):
                        jwt.decode(token, cut, algorithms=["HS256"])

    def test_library_verifies_pyjwt_tokens_signed_with_nul_keys(self):
        for key in self.KEYS:
            with self.subTest(key=key.hex()):
                now = int(time.time())
                token = jwt.encode({"sub": "s-1", "email": "e@x", "iss": "keldo",
                                    "exp": now + 600, "nbf": now}, key, algorithm="HS256")
                self.assertEqual(self.verify(key, token), (0, "s-1", "e@x", now + 600))
                rc, _, _, _ = self.verify(key[:-1] + bytes([key[-1] ^ 1]), token)
                self.assertEqual(rc, CODES["BAD_SIGNATURE"])

    def test_every_verify_status_on_pyjwt_tokens(self):
        key = self.KEYS[0]
        now = int(time.time())
        good = {"sub": "s", "email": "e", "iss": "keldo", "exp": now + 600, "nbf": now}
        enc = lambda claims, k=key: jwt.encode(claims, k, algorithm="HS256")
        token = enc(good)
        header, payload, sig = token.split(".")

        def signed(payload_segment):
            # PyJWT's signature over a payload segment it would not write:
            # HS256 signing of the raw segments through its own algorithm.
            alg = jwt.algorithms.HMACAlgorithm(jwt.algorithms.HMACAlgorithm.SHA256)
            signing_input = (header + "." + payload_segment).encode()
            return header + "." + payload_segment + "." + b64url(
                alg.sign(signing_input, alg.prepare_key(key)))

        drop = lambda name: {k: v for k, v in good.items() if k != name}
        cases = [
            ("OK", token),
            ("MISSING_FIRST_DOT", header),
            ("MISSING_SECOND_DOT", header + "." + payload),
            ("EXTRA_SEGMENTS", token + ".x"),
            ("SIGNATURE_FORMAT", header + "." + payload + "." + sig[:-1]),
            ("SIGNATURE_FORMAT", jwt.encode(good, key, algorithm="HS384")),
            ("SIGNATURE_FORMAT", jwt.encode(good, None, algorithm="none")),
            ("BAD_SIGNATURE", enc(good, bytes([key[0] ^ 1]) + key[1:])),
            ("PAYLOAD_TOO_LONG", signed("A" * 2048)),
            ("PAYLOAD_BASE64", signed("e30*")),
            ("PAYLOAD_JSON", signed(b64url(b"{"))),
            ("PAYLOAD_NOT_OBJECT", signed(b64url(b"[1]"))),
            ("ISS_CLAIM", enc(dict(good, iss="other"))),
            ("MISSING_EXP", enc(drop("exp"))),
            ("EXPIRED", enc(dict(good, exp=now - 120))),
            ("NOT_YET_VALID", enc(dict(good, nbf=now + 600, exp=now + 1200))),
            ("MISSING_SUB", enc(drop("sub"))),
            ("INVALID_SUB", enc(dict(good, sub="s" * 64))),
            ("MISSING_EMAIL", enc(drop("email"))),
            ("INVALID_EMAIL", enc(dict(good, email="a\0b"))),
        ]
        seen = set()
        for name, tok in cases:
            with self.subTest(name):
                code = CODES[name]
                seen.add(name)
                self.assertEqual(self.verify(key, tok)[0], code)
                # PyJWT accepts the signature of every token refused past it.
                if code <= CODES["EXPIRED"] or (
                        CODES["PAYLOAD_NOT_OBJECT"] <= code <= CODES["PAYLOAD_TOO_LONG"]):
                    alg = jwt.algorithms.HMACAlgorithm(jwt.algorithms.HMACAlgorithm.SHA256)
                    h, p, s = tok.split(".")
                    self.assertTrue(alg.verify((h + "." + p).encode(), alg.prepare_key(key),
                                               base64.urlsafe_b64decode(s + "=")))
        self.assertEqual(self.lib.keldo_jwt_verify_r(key, 0, token.encode(), None, None, None),
                         CODES["VERIFY_EMPTY_SECRET"])
        self.assertEqual(self.lib.keldo_jwt_verify_r(key, len(key), None, None, None, None),
                         CODES["VERIFY_NULL_ARGUMENT"])
        self.assertEqual(seen | {"VERIFY_NULL_ARGUMENT", "VERIFY_EMPTY_SECRET"}, set(CODES))

    def test_status_texts_match_the_thirteen(self):
        """With a NUL-free key the thirteen verify the same PyJWT tokens: the
        same verdict, and the status text is their message."""
        key = b"plain-key"
        now = int(time.time())
        good = {"sub": "s", "email": "e", "iss": "keldo", "exp": now + 600, "nbf": now}
        for claims in (good, dict(good, exp=now - 120), dict(good, iss="x"),
                       dict(good, nbf=now + 600), {"iss": "keldo", "exp": now + 60}):
            token = jwt.encode(claims, key, algorithm="HS256")
            for k in (key, b"other"):
                with self.subTest(claims=claims, key=k):
                    code = self.verify(k, token)[0]
                    rc = self.lib.keldo_jwt_verify(k, token.encode(), None, None, None)
                    self.assertEqual(rc == 0, code == 0)
                    if rc != 0:
                        self.assertEqual(self.text(code),
                                         self.lib.keldo_crypto_last_error().decode())


if __name__ == "__main__":
    LIB_PATH = sys.argv.pop(1)
    unittest.main(verbosity=1)
