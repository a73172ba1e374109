#!/usr/bin/python3
"""Writes the seed corpora under tests/fuzz/corpus/ (small, committed).

Valid tokens are signed here with Python's hmac module, independently of the
library. Run again after changing an input layout; libFuzzer grows its own
corpus from these seeds during a CI run and does not write them back.
"""
import base64
import hashlib
import hmac
import json
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
NOW = 1700000000
HEADER = b"eyJhbGciOiJIUzI1NiIsInR5cCI6IkpXVCJ9"
SECRET = b"fuzzing secret"  # secret choice 0 in fuzz_jwt.cpp


def b64url(data):
    return base64.urlsafe_b64encode(data).rstrip(b"=")


def token(payload, secret=SECRET, header=HEADER):
    signing_input = header + b"." + b64url(payload)
    sig = hmac.new(secret, signing_input, hashlib.sha256).digest()
    return signing_input + b"." + b64url(sig)


def write(target, seeds):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    for f in os.listdir(d):
        os.remove(os.path.join(d, f))
    for i, s in enumerate(seeds):
        with open(os.path.join(d, "seed-%03d" % i), "wb") as f:
            f.write(s)


def base64_seeds():
    texts = [b"", b"QQ", b"QQ==", b"QQ=====", b"QR", b"QUJD", b"+/+/", b"-_-_",
             b"-/+_", b"QQ==\r\n", b"QQ== \n \n", b"QQ==\t", b"QQ\n==", b"QUJDRA",
             b"QUJ=RA==", b"=====", b" \r\n", b"QUJD\x00QUJD",
             base64.b64encode(bytes(range(256)))]
    seeds = []
    for t in texts:
        for flags in (0, 1, 2, 3, 4, 7):
            seeds.append(bytes([flags, 5]) + t)
    seeds.append(bytes([1, 0]) + bytes(range(256)))
    return seeds


def claims(**over):
    c = {"sub": "user-1", "email": "user@example.org", "iss": "keldo",
         "exp": NOW + 600, "nbf": NOW}
    c.update(over)
    return json.dumps(c, separators=(",", ":")).encode()


def jwt_seeds():
    seeds = []
    good = token(claims())
    # Mode 0: texts verified as they are.
    for t in (good, good + b"==", good + b"\n", good.replace(b"-", b"+").replace(b"_", b"/"),
              b"", b"abc", b"a.b", b"a.b.c.d", b"..", b"." * 40, token(claims(), header=b""),
              token(claims(sub="x" * 64)), token(claims(exp=NOW - 1))):
        seeds.append(bytes([0, 0]) + t)
    seeds.append(bytes([0, 1]) + token(claims(), secret=b""))
    # Mode 1: payloads, signed by the target.
    payloads = [
        claims(), claims(nbf=NOW + 61), claims(nbf="soon"), claims(exp=1.5),
        b'{"sub":"a","sub":"b","email":"e","iss":"keldo","exp":1700000600}',
        b'{"exp":1,"exp":1700000600,"sub":"a","email":"e","iss":"keldo"}',
        b'[1,2,3]', b'', b'{}', b'{"iss":"keldo\\u0000x","exp":1700000600,"sub":"a","email":"e"}',
        b'{"sub":"\\ud800","email":"e","iss":"keldo","exp":1700000600}',
        b'{"sub":"\xc0\xaf","email":"e","iss":"keldo","exp":1700000600}',
        b'{"x":' + b"[" * 200 + b"]" * 200 + b',"sub":"a","email":"e","iss":"keldo","exp":1700000600}',
        b'{"sub":"a","email":"e","iss":"keldo","exp":' + b"9" * 400 + b"}",
        b'{"sub":"a","email":"e","iss":"keldo","exp":18446744073709551615}',
        b' {"sub" : "a" , "email":"e", "iss":"keldo", "exp":1700000600 } ',
    ]
    for i, p in enumerate(payloads):
        seeds.append(bytes([1, i % 9, i % 4]) + p)
    # Mode 2: sub, email, ttl, then mutations (op, position, value).
    def mint_seed(sub, email, ttl, muts):
        s = bytes([2, 0]) + struct.pack("<H", len(sub)) + sub + struct.pack("<H", len(email))
        s += email + struct.pack("<H", ttl) + bytes([max(len(muts), 1) - 1])
        for op, pos, val in muts:
            s += bytes([op]) + struct.pack("<H", pos) + bytes([val])
        return s
    seeds.append(mint_seed(b"user-1", b"user@example.org", 600, [(0, 5, ord("X"))]))
    seeds.append(mint_seed(b'q"\\\n\x01/', "é€😀".encode(), 0, [(1, 200, ord("="))]))
    seeds.append(mint_seed(b"\xff", b"e", 1, [(2, 10, 0)]))
    seeds.append(mint_seed(b"s" * 700, b"e" * 760, 5, [(0, 100, ord("A"))]))
    seeds.append(mint_seed(b"s" * 63, b"e" * 127, 5, [(2, 150, 0), (1, 150, ord("."))]))
    # Forged: only the last signature byte differs (its top four bits sit in
    # the final character). A verifier that compared fewer than 32 bytes
    # would accept it.
    alphabet = b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"
    forged = good[:-1] + bytes([alphabet[alphabet.index(good[-1:]) ^ 0x20]])
    seeds.append(bytes([0, 0]) + forged)
    return seeds


def jwt_r_seeds():
    """fuzz_jwt_r.cpp: mode, secret length and bytes, then the mode's fields."""
    keys = [b"fuzzing secret", b"\0", b"key\0with\0nuls", bytes(32), bytes(range(70)), b""]
    seeds = []
    for k in keys:
        good = token(claims(), secret=k)
        for t in (good, good + b"==", b"a.b", b"a.b.c.d", token(claims(exp=NOW - 1), secret=k),
                  token(claims(sub="x" * 64), secret=k), good[:-2] + b"AA"):
            seeds.append(bytes([0, len(k)]) + k + t)
        for p in (claims(), claims(nbf=NOW + 61), b"[1]", b"", claims(email=None)):
            seeds.append(bytes([1, len(k)]) + k + p)
        for sub, email, size in ((b"user-1", b"u@x", 2200), (b"user-1", b"u@x", 100),
                                 (b"\xc3", b"e", 2200), (b"s" * 400, b"e" * 1066, 2129),
                                 (b"s" * 400, b"e" * 1066, 2128), (b"s" * 400, b"e" * 1067, 2200),
                                 (b"s" * 63, b"e" * 127, 300)):
            seeds.append(bytes([2, len(k)]) + k + struct.pack("<H", len(sub)) + sub +
                         struct.pack("<H", len(email)) + email + struct.pack("<H", 600) +
                         struct.pack("<H", size))
    return seeds


def jwt_k_seeds():
    """fuzz_jwt_k.cpp: key count, each secret (length byte, bytes), mode, fields."""
    rings = [[b"current secret"], [b"current secret", b"previous\0secret"],
             [b"a", b"b", b"c", b"d", b"e"], [b"same", b"same"], [bytes(64), b"k" * 64]]
    seeds = []
    for ring in rings:
        head = bytes([len(ring) - 1]) + b"".join(bytes([len(k) - 1]) + k for k in ring)
        for signer in range(len(ring) + 1):
            secret = ring[signer] if signer < len(ring) else b"a foreign secret"
            good = token(claims(), secret=secret)
            for t in (good, b"a.b", good + b".x", good[:-1], token(claims(exp=NOW - 1), secret=secret)):
                seeds.append(head + bytes([0]) + t)
            for p in (claims(), claims(nbf=NOW + 61), b'{"sub":"a","sub":"b"}', b"[]"):
                seeds.append(head + bytes([1, signer]) + p)
        for i in range(len(ring)):
            seeds.append(head + bytes([2, i, 6]) + b"user-1" + bytes([3]) + b"u@x")
            seeds.append(head + bytes([2, i, 200]) + b"s" * 200 + bytes([1]) + b"e")
    # A ring cut short: its last secret is empty.
    seeds.append(bytes([2, 3]) + b"abcd" + bytes([5]))
    return seeds


def hash_seeds():
    seeds = []
    for n in (0, 1, 55, 56, 63, 64, 65, 119, 120, 200, 1000):
        seeds.append(bytes([0, n & 255]) + bytes((i * 7) & 255 for i in range(n)))
    for k in (0, 1, 32, 64, 65, 200):
        seeds.append(bytes([1, k]) + bytes(range(k)) + b"message" * 9)
    for salt_len in (0, 16, 252, 253, 600):
        seeds.append(bytes([2, 2]) + struct.pack("<H", 65) + bytes([8]) + b"password" +
                     bytes((i * 3) & 255 for i in range(salt_len)))
    return seeds


def compare_seeds():
    seeds = []
    for n in (0, 1, 7, 8, 9, 31, 32, 33, 100):
        body = bytes((i * 13) & 255 for i in range(n))
        seeds.append(bytes([0, 0]) + struct.pack("<H", n // 2) + bytes([0]) + body)
        seeds.append(bytes([0, 0]) + struct.pack("<H", n // 2) + bytes([1]) + body)
        seeds.append(bytes([0, 1]) + struct.pack("<H", 0) + bytes([0]) + body + body)
    for a, b in ((b"", b""), (b"hash", b"hash"), (b"hash", b"Hash"), (b"h", b"hash")):
        seeds.append(bytes([1, len(a)]) + a + b)
    return seeds


# ---- The command-line tool's parsers -----------------------------------

def tool_checksum_seeds():
    hex_a = hashlib.sha256(b"a").hexdigest().encode()
    lines = [hex_a + b"  file", hex_a + b" *file", hex_a + b" file", b"  \t" + hex_a + b"  x",
             b"\\" + hex_a + b"  new\\nline\\\\back\\rcr", b"SHA256 (file) = " + hex_a,
             b"SHA256(f(o)o)=" + hex_a.upper(), b"\\SHA256 (a\\nb) = " + hex_a,
             hex_a + b"  nul\0after", hex_a[:63] + b"  short", hex_a + b"  -", b"# comment",
             b"with space", b"it's", b"a:b", b"\xc3\xa9\xff\x01", b"#lead ~tilde"]
    seeds = []
    for flags in (0, 1, 2, 4, 8):
        seeds += [bytes([flags]) + line for line in lines]
    return seeds


def tool_base64_stream_seeds():
    texts = [b"", b"QUJD", b"QUJD=QUJD", b"QQ", b"QUJ", b"QQ=", b"QQ==QUJD", b"QU\nJD\n",
             b"QUJD\r\n", b"QUJDQU!D", b"-_-_", b"+/+/", b"QR==", b"Q", b"====",
             base64.encodebytes(bytes(range(100)))]
    seeds = []
    for flags in range(4):
        seeds += [bytes([flags, 7]) + t for t in texts]
    return seeds


def password_seeds():
    key = hashlib.pbkdf2_hmac("sha256", b"pw", b"salt", 10)
    b64 = base64.b64encode
    phc_key = b64(key).rstrip(b"=")
    ab64_key = phc_key.replace(b"+", b".")
    return [b"$pbkdf2-sha256$i=10$" + b64(b"salt").rstrip(b"=") + b"$" + phc_key,
            b"$pbkdf2-sha256$i=1$QQ$" + phc_key, b"$pbkdf2-sha256$i=010$c2FsdA$" + phc_key,
            b"$pbkdf2-sha256$10$c2FsdA$" + ab64_key, b"$pbkdf2-sha256$7$Lg$" + ab64_key,
            b"pbkdf2_sha256$10$salt$" + b64(key), b"pbkdf2_sha256$10$salt$" + phc_key,
            b"pbkdf2_sha256$100000001$s$" + b64(key),
            b"pbkdf2:sha256:10$salt$" + key.hex().encode(),
            b"pbkdf2:sha256$salt$" + key.hex().encode(), b"pbkdf2$salt$" + key.hex().encode(),
            b"pbkdf2:sha256:10$salt$" + key.hex().upper().encode(),
            b"pbkdf2_sha256$10$" + b"s" * 1024 + b"$" + b64(key), b"md5$abc", b"",
            b"$pbkdf2-sha256$i=10$AAAA$" + phc_key + b"$extra"] + stored_hash_seeds()


# The seeds of the command-line tool's former parser of the same strings.
def stored_hash_seeds():
    key = hashlib.pbkdf2_hmac("sha256", b"pw", b"salt", 1000)
    b64 = base64.b64encode
    return [b"$pbkdf2-sha256$i=1000$" + b64(b"salt").rstrip(b"=") + b"$" + b64(key).rstrip(b"="),
            b"$pbkdf2-sha256$i=1$AAAA$AA", b"$pbkdf2-sha256$i=0100$AAAA$" + b64(key).rstrip(b"="),
            b"pbkdf2_sha256$870000$seasalt$" + b64(key),
            b"pbkdf2_sha256$870000$seasalt$" + b64(key).rstrip(b"="),
            b"pbkdf2_sha256$100000001$s$" + b64(key), b"md5$abc", b"$pbkdf2-sha256$i=10$A!AA$AAAA",
            b"$pbkdf2-sha256$i=10$AAAA$AAAA$extra"]


def tool_json_print_seeds():
    return [b'{"alg":"HS256","typ":"JWT"}',
            claims(), b"[" * 32 + b"]" * 32, b"[" * 33 + b"]" * 33,
            b'{"a":[{"b":{"c":[1,2.5e300,-0,"x\\u0000\\"\\/"]}}]}', b"12345678901234567890123",
            b'"\\ud83d\\ude00"', b"[1,]", b"{} {}", b"\xff", b"", b'{"k":' * 20 + b"1" + b"}" * 20]


if __name__ == "__main__":
    write("base64", base64_seeds())
    write("jwt", jwt_seeds())
    write("jwt_r", jwt_r_seeds())
    write("jwt_k", jwt_k_seeds())
    write("hash", hash_seeds())
    write("compare", compare_seeds())
    write("tool_checksum", tool_checksum_seeds())
    write("tool_base64_stream", tool_base64_stream_seeds())
    write("password", password_seeds())
    write("tool_json_print", tool_json_print_seeds())
