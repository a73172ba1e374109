"""PBKDF2 and password hashes against hashlib, RFC 7914 and the tool's bounds."""

import base64
import hashlib
import os
import subprocess

import pytest

import keldo_crypto as kc


def b64(data: bytes) -> str:
    return base64.b64encode(data).decode().rstrip("=")


def phc(password: bytes, salt: bytes, n: int, length: int = 32) -> str:
    key = hashlib.pbkdf2_hmac("sha256", password, salt, n, length)
    return f"$pbkdf2-sha256$i={n}${b64(salt)}${b64(key)}"


def django(password: str, salt: str, n: int) -> str:
    # What Django's PBKDF2PasswordHasher.encode writes.
    dk = hashlib.pbkdf2_hmac("sha256", password.encode(), salt.encode(), n)
    return f"pbkdf2_sha256${n}${salt}${base64.b64encode(dk).decode()}"


# RFC 7914, section 11.
@pytest.mark.parametrize("password,salt,n,hex_dk", [
    (b"passwd", b"salt", 1,
     "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
     "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783"),
    (b"Password", b"NaCl", 80000,
     "4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56"
     "a1d425a1225833549adb841b51c9b3176a272bdebba1d078478f62b397f33c8d"),
])
def test_pbkdf2_rfc7914(password, salt, n, hex_dk):
    assert kc.pbkdf2_sha256(password, salt, n, 64).hex() == hex_dk


@pytest.mark.parametrize("password,salt,n,length", [
    (b"", b"", 1, 32),
    (b"pw", b"salt", 2, 1),
    (b"pw", b"salt", 3, 33),
    (b"\0\xff" * 40, os.urandom(300), 7, 100),   # a password over one block
    (os.urandom(5000), b"s" * 16, 2, 64),
])
def test_pbkdf2_matches_hashlib(password, salt, n, length):
    want = hashlib.pbkdf2_hmac("sha256", password, salt, n, length)
    assert kc.pbkdf2_sha256(password, salt, n, length) == want
    assert kc.pbkdf2_sha256(bytearray(password), memoryview(salt), n, length) == want


def test_pbkdf2_text_password_is_utf8():
    assert (kc.pbkdf2_sha256("pässwörd", b"salt", 5)
            == hashlib.pbkdf2_hmac("sha256", "pässwörd".encode(), b"salt", 5))


@pytest.mark.parametrize("n,length,message", [
    (0, 32, "pbkdf2_sha256: iterations must be 1 to 4294967295"),
    (2**32, 32, "pbkdf2_sha256: iterations must be 1 to 4294967295"),
    (1, 0, "pbkdf2_sha256: length must be 1 to"),
    (1, -1, "pbkdf2_sha256: length must be 1 to"),
])
def test_pbkdf2_bounds(n, length, message):
    with pytest.raises(kc.InvalidArgument, match="^" + message):
        kc.pbkdf2_sha256(b"pw", b"salt", n, length)


def test_pbkdf2_salt_must_be_bytes():
    with pytest.raises(TypeError):
        kc.pbkdf2_sha256(b"pw", "salt", 1)


# ---- hash_password / verify_password -------------------------------------

def test_hash_password_is_phc_that_hashlib_reproduces():
    stored = kc.hash_password("correct horse", iterations=1000)
    empty, scheme, n, salt, key = stored.split("$")
    assert (empty, scheme, n) == ("", "pbkdf2-sha256", "i=1000")
    assert "=" not in salt + key
    salt_b = base64.b64decode(salt + "==")
    assert len(salt_b) == 16
    want = hashlib.pbkdf2_hmac("sha256", b"correct horse", salt_b, 1000)
    assert base64.b64decode(key + "=") == want
    assert kc.verify_password("correct horse", stored)
    assert not kc.verify_password("correct horsf", stored)
    assert stored != kc.hash_password("correct horse", iterations=1000)  # a fresh salt


def test_hash_password_default_iterations():
    stored = kc.hash_password(b"pw")
    assert stored.startswith("$pbkdf2-sha256$i=600000$")
    assert kc.verify_password(b"pw", stored)


def passlib_form(password: bytes, salt: bytes, n: int) -> str:
    # passlib's adapted Base64: "." for "+", no padding.
    key = hashlib.pbkdf2_hmac("sha256", password, salt, n)
    return f"$pbkdf2-sha256${n}${b64(salt).replace('+', '.')}${b64(key).replace('+', '.')}"


def werkzeug_form(password: str, salt: str, n: int) -> str:
    key = hashlib.pbkdf2_hmac("sha256", password.encode(), salt.encode(), n)
    return f"pbkdf2:sha256:{n}${salt}${key.hex()}"


@pytest.mark.parametrize("stored,password", [
    (phc(b"pw", b"0123456789abcdef", 3), "pw"),
    (phc(b"pw", b"s", 1), b"pw"),                      # any salt length
    (phc("pässwort".encode(), b"salt", 100_000_000 // 10**7), "pässwort"),
    (django("pw", "seasalt", 4), "pw"),
    (django("pw", "x" * 1024, 1), "pw"),
    (django("", "salt", 2), ""),
    (passlib_form(b"pw", bytes(range(200, 216)), 5), "pw"),
    (passlib_form("pässwort".encode(), b"\xfb\xff" * 8, 2), "pässwort"),
    (werkzeug_form("pw", "Qx9salt", 6), "pw"),
    (werkzeug_form("", "s", 1), ""),
], ids=["phc", "phc-short-salt", "phc-utf8", "django", "django-long-salt", "django-empty",
        "passlib", "passlib-dots", "werkzeug", "werkzeug-empty"])
def test_verify_password_matches_oracle_hashes(stored, password):
    assert kc.verify_password(password, stored)
    wrong = password + (b"x" if isinstance(password, bytes) else "x")
    assert not kc.verify_password(wrong, stored)


def test_peers_read_ours_and_we_read_theirs():
    """passlib and Werkzeug as the oracles, both ways where they write."""
    import passlib.hash as passlib_hash
    import werkzeug.security as werkzeug_security
    for pw in ("correct horse", "pässwört", ""):
        theirs = passlib_hash.pbkdf2_sha256.using(rounds=1000).hash(pw) if pw else None
        if theirs:
            assert kc.verify_password(pw, theirs) and not kc.verify_password(pw + "!", theirs)
        w = werkzeug_security.generate_password_hash(pw, method="pbkdf2:sha256:1000")
        assert kc.verify_password(pw, w) and not kc.verify_password(pw + "!", w)
        if pw:
            ours = kc.hash_password(pw, iterations=1000)
            # passlib reads the PHC form's salt and hash, written with "i=".
            n, salt, key = ours.split("$")[2:]
            assert passlib_hash.pbkdf2_sha256.verify(
                pw, f"$pbkdf2-sha256${n[2:]}${salt.replace('+', '.')}${key.replace('+', '.')}")


def test_werkzeug_form_without_iterations_is_refused():
    # Werkzeug's count depends on its version: such a string is ambiguous.
    key = hashlib.pbkdf2_hmac("sha256", b"pw", b"salt", 260000).hex()
    with pytest.raises(kc.MalformedHash, match="ambiguous"):
        kc.verify_password("pw", f"pbkdf2:sha256$salt${key}")


def _not_hashes():
    good_salt, key = b64(b"saltsaltsaltsalt"), b64(bytes(32))
    dj_key = base64.b64encode(bytes(32)).decode()
    return [
        "$pbkdf2-sha256$i=1$" + good_salt + "$" + b64(bytes(16)),
        "$pbkdf2-sha256$i=1$" + good_salt + "$" + b64(bytes(64)),
        "$pbkdf2-sha256$i=0$" + good_salt + "$" + key,
        "$pbkdf2-sha256$i=100000001$" + good_salt + "$" + key,
        "$pbkdf2-sha256$i=+5$" + good_salt + "$" + key,
        "$pbkdf2-sha256$i= 5$" + good_salt + "$" + key,
        "$pbkdf2-sha256$i=١$" + good_salt + "$" + key,
        "$pbkdf2-sha256$n=5$" + good_salt + "$" + key,
        "$pbkdf2-sha256$i=5$" + good_salt,
        "$pbkdf2-sha256$i=5$" + good_salt + "$" + key + "$",
        "$pbkdf2-sha256$i=5$$" + key,
        "$pbkdf2-sha256$i=5$" + good_salt + "$" + key[:-1] + "B",
        "$pbkdf2-sha256$i=5$" + good_salt.replace("c", "-") + "$" + key,
        "pbkdf2_sha256$0$salt$" + dj_key,
        "pbkdf2_sha256$5$$" + dj_key,
        "pbkdf2_sha256$5$" + "s" * 1025 + "$" + dj_key,
        "pbkdf2_sha256$5$salt$" + dj_key + "$x",
        "pbkdf2_sha256$5$salt$" + base64.b64encode(bytes(31)).decode(),
        "pbkdf2_sha256$5$salt$" + dj_key[:-2] + "B=",
        "pbkdf2:sha256:5$salt$" + "0" * 63,
        "pbkdf2:sha256:5$salt$" + "g" * 64,
        "pbkdf2_sha1$5$salt$" + dj_key,
        "argon2$...",
        "",
        "pbkdf2_sha256$5$salt$" + dj_key + "\0",
    ]


@pytest.mark.parametrize("stored", _not_hashes())
def test_verify_password_refuses_what_is_not_a_hash(stored):
    for call in (lambda: kc.verify_password("pw", stored), lambda: kc.needs_rehash(stored)):
        with pytest.raises(kc.MalformedHash) as e:
            call()
        assert isinstance(e.value, kc.InvalidArgument) and isinstance(e.value, ValueError)
        assert str(e.value).startswith(("password_verify: ", "verify_password: ", "needs_rehash: ",
                                        "password_needs_rehash: "))


@pytest.mark.parametrize("call,message", [
    (lambda: kc.hash_password(""), "hash_password: the password is empty"),
    (lambda: kc.hash_password("p" * 4097, iterations=1),
     "hash_password: password is longer than 4096"),
    (lambda: kc.hash_password("pw", iterations=0),
     "hash_password: iterations must be 1 to 100000000"),
    (lambda: kc.hash_password("pw", iterations=100_000_001),
     "hash_password: iterations must be 1 to 100000000"),
])
def test_password_bounds(call, message):
    with pytest.raises(kc.InvalidArgument, match="^" + message.replace("$", r"\$")):
        call()


def test_password_4096_bytes_is_accepted_and_longer_never_matches():
    assert kc.verify_password("p" * 4096, kc.hash_password("p" * 4096, iterations=1))
    # At login, an over-long password is a wrong password, not an error,
    # even where it is the one the hash was made from.
    stored = django("p" * 5000, "salt", 1)
    assert kc.verify_password("x" * 5000, stored) is False
    assert kc.verify_password("p" * 5000, stored) is False


@pytest.mark.parametrize("stored,iterations,want", [
    (phc(b"pw", b"salt", 600_000), 600_000, False),
    (phc(b"pw", b"salt", 700_000), 600_000, False),
    (phc(b"pw", b"salt", 599_999), 600_000, True),
    (phc(b"pw", b"salt", 1000), 1000, False),
    (django("pw", "salt", 900_000), 600_000, True),       # not the PHC form
    (passlib_form(b"pw", b"salt", 900_000), 600_000, True),
    (werkzeug_form("pw", "salt", 900_000), 600_000, True),
])
def test_needs_rehash(stored, iterations, want):
    assert kc.needs_rehash(stored, iterations=iterations) is want


def test_needs_rehash_default_is_the_default_count():
    assert kc.needs_rehash(kc.hash_password("pw", iterations=1000))
    assert not kc.needs_rehash(kc.hash_password("pw", iterations=kc.DEFAULT_ITERATIONS))


# ---- the command-line tool, when the build has it --------------------------

TOOL = os.environ.get("KELDO_CRYPTO_TOOL")


@pytest.mark.skipif(not TOOL, reason="KELDO_CRYPTO_TOOL not set")
def test_tool_and_package_read_each_others_hashes(tmp_path):
    pw_file = tmp_path / "pw"
    pw_file.write_text("tool and package\n")
    by_tool = subprocess.run([TOOL, "password", "hash", "--iterations", "1234",
                              "--password-file", str(pw_file)],
                             check=True, capture_output=True, text=True).stdout.strip()
    assert kc.verify_password("tool and package", by_tool)
    assert not kc.verify_password("tool and packagf", by_tool)
    for stored in (kc.hash_password("tool and package", iterations=1234),
                   django("tool and package", "pepper", 7)):
        ok = subprocess.run([TOOL, "password", "verify", "-q", stored, "--password-file",
                             str(pw_file)], capture_output=True)
        assert ok.returncode == 0, ok.stderr
