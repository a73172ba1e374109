"""SHA-256, HMAC, Base64, UUIDs and compare_digest against the standard library."""

import base64
import hashlib
import hmac
import random
import uuid

import pytest

import keldo_crypto as kc

rng = random.Random(1515)  # fixed: a failure reproduces
LENGTHS = [0, 1, 2, 3, 31, 55, 56, 63, 64, 65, 127, 1000, 1 << 16]


def sample(n: int) -> bytes:
    return bytes(rng.getrandbits(8) for _ in range(n))


# FIPS 180-4 examples.
@pytest.mark.parametrize("message,digest", [
    (b"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"),
    (b"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"),
    (b"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"),
])
def test_sha256_fips(message, digest):
    assert kc.sha256(message).hex() == digest


@pytest.mark.parametrize("n", LENGTHS)
def test_sha256_matches_hashlib(n):
    data = sample(n)
    assert kc.sha256(data) == hashlib.sha256(data).digest()
    assert kc.sha256(bytearray(data)) == kc.sha256(memoryview(data)) == kc.sha256(data)


# RFC 4231, test cases 1, 2 and 6.
@pytest.mark.parametrize("key,data,mac", [
    (b"\x0b" * 20, b"Hi There", "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"),
    (b"Jefe", b"what do ya want for nothing?",
     "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"),
    (b"\xaa" * 131, b"Test Using Larger Than Block-Size Key - Hash Key First",
     "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"),
])
def test_hmac_rfc4231(key, data, mac):
    assert kc.hmac_sha256(key, data).hex() == mac


@pytest.mark.parametrize("key_len", [0, 1, 32, 64, 65, 200])
@pytest.mark.parametrize("n", [0, 1, 64, 1000])
def test_hmac_matches_stdlib(key_len, n):
    key, data = sample(key_len) + b"\0", sample(n)  # NULs are bytes like any other
    assert kc.hmac_sha256(key, data) == hmac.new(key, data, hashlib.sha256).digest()


@pytest.mark.parametrize("n", list(range(0, 70)) + [1000, 4099])
def test_base64_matches_stdlib(n):
    data = sample(n)
    std = base64.b64encode(data).decode()
    url = base64.urlsafe_b64encode(data).decode().rstrip("=")
    assert kc.b64encode(data) == std
    assert kc.b64url_encode(data) == url
    assert kc.b64decode(std) == data and kc.b64decode(std.encode()) == data
    assert kc.b64url_decode(url) == data


def test_base64_lenient_endings_as_the_library_documents():
    assert kc.b64decode("aGk=\r\n") == b"hi"
    assert kc.b64url_decode("-_8") == kc.b64url_decode("+/8") == b"\xfb\xff"


@pytest.mark.parametrize("fn,text,message", [
    (kc.b64decode, "a*bc", "keldo_crypto_base64_decode: decode failed or buffer too small"),
    (kc.b64decode, "abcde", "keldo_crypto_base64_decode: decode failed or buffer too small"),
    (kc.b64decode, "-_8=", "keldo_crypto_base64_decode: decode failed or buffer too small"),
    (kc.b64url_decode, "ab=c", "keldo_crypto_base64url_decode: decode failed or buffer too small"),
    (kc.b64decode, "aGk=\0garbage", "b64decode: text holds a NUL character"),
    (kc.b64url_decode, "aGé", "b64url_decode: text holds a non-ASCII character"),
    (kc.b64decode, b"\xff", "b64decode: text holds a non-ASCII character"),
])
def test_base64_decode_refusals(fn, text, message):
    with pytest.raises(kc.InvalidArgument) as e:
        fn(text)
    assert str(e.value) == message


def test_uuid4_is_random_version_4():
    seen = set()
    for _ in range(2000):
        text = kc.uuid4()
        u = uuid.UUID(text)
        assert str(u) == text  # 36 lowercase characters
        assert u.version == 4 and u.variant == uuid.RFC_4122
        seen.add(text)
    assert len(seen) == 2000


@pytest.mark.parametrize("a,b", [
    (b"", b""), (b"a", b"a"), (b"a", b"b"), (b"abc", b"abd"), (b"abc", b"ab"),
    (b"\0" * 32, b"\0" * 32), (b"\0" * 32, b"\0" * 31 + b"\1"), (b"x" * 1000, b"x" * 1000),
    ("token", "token"), ("token", "tokem"), ("", "x"),
    (bytearray(b"mac"), memoryview(b"mac")),
])
def test_compare_digest_agrees_with_hmac(a, b):
    assert kc.compare_digest(a, b) is hmac.compare_digest(a, b)


@pytest.mark.parametrize("call", [
    lambda: kc.compare_digest("a", b"a"),
    lambda: kc.compare_digest("é", "é"),
    lambda: kc.sha256("text"),
    lambda: kc.sha256(5),
    lambda: kc.hmac_sha256("key", b"data"),
    lambda: kc.b64encode("text"),
    lambda: kc.b64decode(None),
])
def test_wrong_types(call):
    with pytest.raises(TypeError):
        call()
