"""Password-hash strings exchanged between the shipped library (loaded with
ctypes) and the peers that write each form: Django's PBKDF2PasswordHasher,
passlib's pbkdf2_sha256, Werkzeug's generate_password_hash and
check_password_hash, and hashlib.pbkdf2_hmac for the PHC form, in both
directions where the peer writes the form. Random passwords (non-ASCII text
and NUL bytes wherever the peer takes them), wrong passwords, and malformed or
out-of-bounds strings refused with the right kind of status.

Usage: password_interop.py PATH_TO_LIBKELDO_CRYPTO_SO
Prints the number of cases per form and direction at the end.
"""

import base64
import collections
import ctypes
import hashlib
import random
import sys
import unittest

from django.conf import settings

settings.configure()
from django.contrib.auth.hashers import PBKDF2PasswordHasher  # noqa: E402
from passlib.hash import pbkdf2_sha256  # noqa: E402
from werkzeug.security import check_password_hash, generate_password_hash  # noqa: E402

LIB_PATH = None
COUNTS = collections.Counter()

OK = 0
PHC, DJANGO, PASSLIB, WERKZEUG = 1, 2, 3, 4
KIND_MISMATCH, KIND_MALFORMED_HASH = 8, 9
MISMATCH = -801
UNKNOWN_FORMAT, AMBIGUOUS, FIELDS, ITERATIONS, SALT, KEY = -901, -902, -903, -904, -905, -906
HASH_MAX = 256
CASES = 100  # random cases per form and direction


def load(path):
    lib = ctypes.CDLL(path)
    lib.keldo_password_hash.restype = ctypes.c_int32
    lib.keldo_password_hash.argtypes = [ctypes.c_char_p, ctypes.c_uint64, ctypes.c_uint32,
                                        ctypes.c_char_p, ctypes.c_uint64]
    lib.keldo_password_encode.restype = ctypes.c_int32
    lib.keldo_password_encode.argtypes = [ctypes.c_int32, ctypes.c_char_p, ctypes.c_uint64,
                                          ctypes.c_char_p, ctypes.c_uint64, ctypes.c_uint32,
                                          ctypes.c_char_p, ctypes.c_uint64]
    lib.keldo_password_verify.restype = ctypes.c_int32
    lib.keldo_password_verify.argtypes = [ctypes.c_char_p, ctypes.c_uint64, ctypes.c_char_p]
    lib.keldo_password_parameters.restype = ctypes.c_int32
    lib.keldo_password_parameters.argtypes = [ctypes.c_char_p, ctypes.POINTER(ctypes.c_int32),
                                           ctypes.POINTER(ctypes.c_uint32)]
    lib.keldo_crypto_status_text.restype = ctypes.c_char_p
    lib.keldo_crypto_status_text.argtypes = [ctypes.c_int32]
    return lib


def kind(code):
    return -code // 100 if code < 0 else 0


def random_text(rng, n):
    """Text with ASCII, Latin-1, other BMP and astral characters and NUL."""
    pools = [(0x20, 0x7e), (0xa0, 0xff), (0x100, 0xd7ff), (0x1f300, 0x1f64f), (0, 0)]
    return "".join(chr(rng.randint(*rng.choice(pools))) for _ in range(n))


def random_bytes(rng, n):
    return bytes(rng.getrandbits(8) for _ in range(n))


def salt_text(rng, n):
    alphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789./+-_:"
    return "".join(rng.choice(alphabet) for _ in range(n))


def wrong(password):
    """The password with one character or byte changed, or one appended."""
    if not password:
        return password + ("x" if isinstance(password, str) else b"x")
    i = len(password) // 2
    if isinstance(password, str):
        return password[:i] + chr(ord(password[i]) ^ 1) + password[i + 1:]
    return password[:i] + bytes([password[i] ^ 1]) + password[i + 1:]


def b64_unpadded(data):
    return base64.b64encode(data).decode().rstrip("=")


def b64_decode_unpadded(text):
    return base64.b64decode(text + "=" * (-len(text) % 4))


class PasswordInterop(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.lib = load(LIB_PATH)
        cls.django = PBKDF2PasswordHasher()

    # ---- the library's side ----------------------------------------------

    def verify(self, password, stored):
        if isinstance(password, str):
            password = password.encode()
        return self.lib.keldo_password_verify(password, len(password), stored.encode())

    def encode(self, form, password, salt, iterations):
        if isinstance(password, str):
            password = password.encode()
        if isinstance(salt, str):
            salt = salt.encode()
        out = ctypes.create_string_buffer(HASH_MAX)
        rc = self.lib.keldo_password_encode(form, password, len(password), salt, len(salt),
                                            iterations, out, HASH_MAX)
        self.assertEqual(rc, OK, self.lib.keldo_crypto_status_text(rc))
        return out.value.decode()

    def hash(self, password, iterations):
        out = ctypes.create_string_buffer(HASH_MAX)
        rc = self.lib.keldo_password_hash(password, len(password), iterations, out, HASH_MAX)
        self.assertEqual(rc, OK, self.lib.keldo_crypto_status_text(rc))
        return out.value.decode()

    def check_ours_from_peer(self, form, password, stored):
        with self.subTest(form=form, direction="ours-from-peer", stored=stored):
            self.assertEqual(self.verify(password, stored), OK)
            rc = self.verify(wrong(password), stored)
            self.assertEqual(rc, MISMATCH)
            self.assertEqual(kind(rc), KIND_MISMATCH)
            got_form, got_iterations = ctypes.c_int32(), ctypes.c_uint32()
            self.assertEqual(self.lib.keldo_password_parameters(stored.encode(), got_form,
                                                             got_iterations), OK)
            self.assertEqual(got_form.value, form)
        COUNTS[(form, "ours-from-peer")] += 1

    def check_peer_from_ours(self, form, password, stored, peer_verify):
        with self.subTest(form=form, direction="peer-from-ours", stored=stored):
            self.assertTrue(peer_verify(password, stored))
            self.assertFalse(peer_verify(wrong(password), stored))
        COUNTS[(form, "peer-from-ours")] += 1

    def iterations(self, rng):
        return rng.choice([1, 2, rng.randint(3, 2000)])

    # ---- the four forms ----------------------------------------------------

    def test_phc_with_hashlib(self):
        rng = random.Random(1)

        def hashlib_verify(password, stored):
            _, name, i, salt, key = stored.split("$")
            self.assertEqual(name, "pbkdf2-sha256")
            self.assertEqual(key, b64_unpadded(b64_decode_unpadded(key)))  # canonical
            derived = hashlib.pbkdf2_hmac("sha256", password, b64_decode_unpadded(salt),
                                          int(i[2:]))
            return b64_unpadded(derived) == key

        for _ in range(CASES):
            password = random_bytes(rng, rng.randint(0, 80))
            n = self.iterations(rng)
            salt = random_bytes(rng, rng.randint(1, 64))
            key = hashlib.pbkdf2_hmac("sha256", password, salt, n)
            stored = f"$pbkdf2-sha256$i={n}${b64_unpadded(salt)}${b64_unpadded(key)}"
            self.check_ours_from_peer(PHC, password, stored)
            self.check_peer_from_ours(PHC, password, self.hash(password, n), hashlib_verify)

    def test_django(self):
        rng = random.Random(2)
        for i in range(CASES):
            # Django takes bytes as they are and text as UTF-8.
            password = random_bytes(rng, rng.randint(0, 60)) if i % 2 else random_text(rng, 20)
            n = self.iterations(rng)
            salt = self.django.salt() if i % 3 else salt_text(rng, rng.randint(1, 128))
            self.check_ours_from_peer(DJANGO, password, self.django.encode(password, salt, n))
            self.check_peer_from_ours(DJANGO, password,
                                      self.encode(DJANGO, password, salt, n),
                                      lambda p, s: self.django.verify(p, s))
        # At Django's own default count, with its own salt.
        password = "d\u00e9faut"
        self.check_ours_from_peer(DJANGO, password, self.django.encode(
            password, self.django.salt()))

    def test_passlib(self):
        rng = random.Random(3)
        for i in range(CASES):
            password = random_bytes(rng, rng.randint(0, 60)) if i % 2 else random_text(rng, 20)
            n = self.iterations(rng)
            salt = random_bytes(rng, rng.randint(1, 96))
            peer = pbkdf2_sha256.using(rounds=n, salt=salt).hash(password)
            self.check_ours_from_peer(PASSLIB, password, peer)
            ours = self.encode(PASSLIB, password, salt, n)
            self.assertEqual(ours, peer)  # same salt, same count: the same text
            self.check_peer_from_ours(PASSLIB, password, ours,
                                      lambda p, s: pbkdf2_sha256.verify(p, s))
        password = "passlib default"
        self.check_ours_from_peer(PASSLIB, password, pbkdf2_sha256.hash(password))

    def test_werkzeug(self):
        rng = random.Random(4)
        for _ in range(CASES):
            password = random_text(rng, rng.randint(0, 30))  # Werkzeug takes text only
            n = self.iterations(rng)
            peer = generate_password_hash(password, method=f"pbkdf2:sha256:{n}",
                                          salt_length=rng.randint(1, 64))
            self.check_ours_from_peer(WERKZEUG, password, peer)
            ours = self.encode(WERKZEUG, password, salt_text(rng, 16).replace(":", "x"), n)
            self.check_peer_from_ours(WERKZEUG, password, ours,
                                      lambda p, s: check_password_hash(s, p))
        password = "werkzeug default"
        self.check_ours_from_peer(WERKZEUG, password,
                                  generate_password_hash(password, method="pbkdf2:sha256"))

    # ---- refusals ------------------------------------------------------------

    def test_malformed_and_out_of_bounds(self):
        """Strings the peers write or accept that are out of bounds here,
        and damaged strings: each refused as a malformed hash, never as a
        mismatch, whatever the password."""
        pw = "pw"
        django = self.django.encode(pw, "saltsalt", 10)
        passlib = pbkdf2_sha256.using(rounds=10, salt=b"0123456789abcdef").hash(pw)
        werkzeug = generate_password_hash(pw, method="pbkdf2:sha256:10")
        phc = self.encode(PHC, pw, b"0123456789abcdef", 10)
        method, w_salt, w_hex = werkzeug.split("$")
        d_alg, d_n, d_salt, d_key = django.split("$")
        cases = [
            # Werkzeug strings without a count, as older releases wrote them
            (f"pbkdf2:sha256${w_salt}${w_hex}", AMBIGUOUS),
            (f"pbkdf2${w_salt}${w_hex}", AMBIGUOUS),
            (generate_password_hash(pw, method="pbkdf2:sha512:10"), UNKNOWN_FORMAT),
            (w_hex, UNKNOWN_FORMAT),
            (f"{method}${w_salt}${w_hex.upper()}", KEY),
            (f"{method}${w_salt}${w_hex[:-1]}", KEY),
            # Django: a salt over 1024 characters (Django itself takes it), a
            # count out of bounds or spelt with a leading zero
            (self.django.encode(pw, "s" * 1025, 1), SALT),
            (f"{d_alg}$0${d_salt}${d_key}", ITERATIONS),
            (f"{d_alg}$100000001${d_salt}${d_key}", ITERATIONS),
            (f"{d_alg}$010${d_salt}${d_key}", ITERATIONS),
            (f"{d_alg}${d_n}${d_salt}${d_key.rstrip('=')}", KEY),
            (f"{d_alg}${d_n}${d_salt}", FIELDS),
            (f"pbkdf2_sha1${d_n}${d_salt}${d_key}", UNKNOWN_FORMAT),
            # passlib: its key with '+' for '.', more rounds than the bound,
            # a 64-byte key, a salt over 1024 characters
            (passlib.replace(".", "+") if "." in passlib.split("$")[-1] else
             passlib[:-1] + "+", KEY),
            (passlib.replace("$10$", "$4294967295$"), ITERATIONS),
            (passlib[:-43] + base64.b64encode(bytes(64)).decode().rstrip("="), KEY),
            (pbkdf2_sha256.using(rounds=1, salt=bytes(1000)).hash(pw), SALT),
            # the PHC form: padding, a '.' from passlib's alphabet, trailing data
            (phc + "=", KEY),
            (phc.replace("$i=10$", "$i=1000,l=32$"), ITERATIONS),
            (phc + "$", FIELDS),
            ("", UNKNOWN_FORMAT),
        ]
        for stored, want in cases:
            with self.subTest(stored=stored[:80]):
                rc = self.verify(pw, stored)
                self.assertEqual(rc, want, self.lib.keldo_crypto_status_text(rc))
                self.assertEqual(kind(rc), KIND_MALFORMED_HASH)
                self.assertTrue(self.lib.keldo_crypto_status_text(rc).startswith(
                    b"password_verify: "))
            COUNTS[("any", "malformed refused")] += 1
        self.assertIn(b"ambiguous", self.lib.keldo_crypto_status_text(AMBIGUOUS))

    def test_password_length_limit(self):
        """passlib refuses passwords over 4096 bytes, as the library does:
        a longer one never matches, even against a string made for it."""
        long_pw = b"a" * 4097
        key = hashlib.pbkdf2_hmac("sha256", long_pw, b"salt", 1)
        stored = f"$pbkdf2-sha256$i=1${b64_unpadded(b'salt')}${b64_unpadded(key)}"
        self.assertEqual(self.verify(long_pw, stored), MISMATCH)
        self.assertEqual(self.verify(long_pw[:4096], self.encode(PHC, long_pw[:4096],
                                                                 b"salt", 1)), OK)


def main():
    global LIB_PATH
    LIB_PATH = sys.argv.pop(1)
    result = unittest.main(exit=False, verbosity=1).result
    names = {PHC: "PHC (hashlib)", DJANGO: "Django", PASSLIB: "passlib",
             WERKZEUG: "Werkzeug", "any": "all forms"}
    print("\ncases: form | direction | count")
    for (form, direction), count in sorted(COUNTS.items(), key=str):
        print(f"  {names[form]} | {direction} | {count}")
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
