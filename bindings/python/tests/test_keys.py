"""TokenKey and KeyRing against PyJWT: each key signs what PyJWT checks under
that key alone, PyJWT's tokens verify at the right position, only a bad
signature tries the next key, and rings shared by threads cross nothing."""

import threading
import time

import jwt
import pytest

import keldo_crypto as kc

SECRETS = [b"current-" + b"c" * 24, "previous-\u00e9" + "p" * 22, b"older-\0" + b"o" * 25]


def as_bytes(s):
    return s if isinstance(s, bytes) else s.encode()


def pyjwt(secret, **over):
    now = int(time.time())
    claims = {"sub": "alice", "email": "alice@example.com", "iss": "keldo", "exp": now + 600,
              "nbf": now}
    claims.update(over)
    return jwt.encode({k: v for k, v in claims.items() if v is not None}, as_bytes(secret),
                      algorithm="HS256")


def test_each_key_signs_what_pyjwt_checks_under_it_alone():
    keys = [kc.TokenKey(s) for s in SECRETS]
    for i, key in enumerate(keys):
        token = key.mint("bob", "bob@example.com", 120)
        for j, other in enumerate(SECRETS):
            if i == j:
                claims = jwt.decode(token, as_bytes(other), algorithms=["HS256"], issuer="keldo")
                assert (claims["sub"], claims["email"]) == ("bob", "bob@example.com")
            else:
                with pytest.raises(jwt.InvalidSignatureError):
                    jwt.decode(token, as_bytes(other), algorithms=["HS256"])


def test_pyjwt_tokens_verify_at_their_position():
    ring = kc.KeyRing([SECRETS[0], kc.TokenKey(SECRETS[1]), SECRETS[2]])
    assert len(ring) == 3
    for i, secret in enumerate(SECRETS):
        claims = kc.jwt_verify(pyjwt(secret), ring)
        assert (claims.sub, claims.key) == ("alice", i)
        assert dict(claims) == {"sub": "alice", "email": "alice@example.com",
                                "exp": claims.exp}
    # The ring's mint signs with the first key.
    assert jwt.decode(ring.mint("x", "y"), as_bytes(SECRETS[0]), algorithms=["HS256"])
    assert kc.jwt_verify(kc.jwt_mint(ring, "x", "y"), SECRETS[0]).key == 0
    with pytest.raises(kc.BadSignature):
        ring.verify(pyjwt(b"retired-" + b"r" * 24))


@pytest.mark.parametrize("over, error", [
    ({"exp": int(time.time()) - 5}, kc.TokenExpired),
    ({"nbf": int(time.time()) + 600}, kc.TokenNotYetValid),
    ({"iss": "evil"}, kc.InvalidClaims),
    ({"sub": None}, kc.InvalidClaims),
])
def test_refusals_after_a_match_are_final(over, error):
    # Signed with the second key: a ring that moved on after any refusal of
    # the first key would answer BadSignature instead.
    ring = kc.KeyRing(SECRETS[:2])
    with pytest.raises(error):
        ring.verify(pyjwt(SECRETS[1], **over))


def test_malformed_tokens_are_refused_before_any_key():
    ring = kc.KeyRing(SECRETS[:2])
    good = pyjwt(SECRETS[1])
    for token in ["", None, "a.b", good + ".x", good[:-1], "a.b.c\0"]:
        with pytest.raises((kc.MalformedToken, kc.BadSignature)):
            ring.verify(token)


def test_repeated_claims_are_refused_where_pyjwt_reads_the_last():
    # PyJWT (json.loads) takes the last of two equal names; the library
    # refuses the token, so the two can never disagree about it.
    import base64
    import hashlib
    import hmac
    now = int(time.time())
    secret = as_bytes(SECRETS[0])
    for payload, pyjwt_reads in [
        ('{"sub":"a","email":"e","iss":"keldo","exp":%d,"exp":1}' % (now + 600), {"exp": 1}),
        ('{"sub":"a","email":"e","iss":"keldo","exp":%d,"iss":"evil"}' % (now + 600),
         {"iss": "evil"}),
    ]:
        def seg(b):
            return base64.urlsafe_b64encode(b).rstrip(b"=").decode()
        head = seg(b'{"alg":"HS256","typ":"JWT"}') + "." + seg(payload.encode())
        token = head + "." + seg(hmac.new(secret, head.encode(), hashlib.sha256).digest())
        seen = jwt.decode(token, secret, algorithms=["HS256"],
                          options={"verify_exp": False})
        assert {k: seen[k] for k in pyjwt_reads} == pyjwt_reads
        with pytest.raises(kc.MalformedToken, match="invalid payload JSON"):
            kc.jwt_verify(token, SECRETS[0])
        with pytest.raises(kc.MalformedToken, match="invalid payload JSON"):
            kc.KeyRing([SECRETS[1], SECRETS[0]]).verify(token)


def test_nbf_beyond_64_bits_is_not_yet_valid_as_in_pyjwt():
    for nbf in [2**63, 2**64 - 1, 10**20]:
        token = pyjwt(SECRETS[0], nbf=nbf)
        with pytest.raises(jwt.ImmatureSignatureError):
            jwt.decode(token, as_bytes(SECRETS[0]), algorithms=["HS256"])
        with pytest.raises(kc.TokenNotYetValid):
            kc.jwt_verify(token, SECRETS[0])


def test_construction_and_closing():
    with pytest.raises(kc.InvalidArgument, match="shorter than 32"):
        kc.TokenKey("short")
    assert kc.TokenKey("short", allow_short_secret=True).verify(
        pyjwt(b"short")).sub == "alice"
    with pytest.raises(kc.InvalidArgument):
        kc.KeyRing([])
    with pytest.raises(kc.InvalidArgument):
        kc.KeyRing([SECRETS[0]] * (kc.KEYS_MAX + 1))
    assert len(kc.KeyRing([SECRETS[0]] * kc.KEYS_MAX)) == kc.KEYS_MAX
    with pytest.raises(TypeError):
        kc.KeyRing(SECRETS[0])  # one secret, not a list of them
    with pytest.raises(TypeError):
        kc.TokenKey(42)
    key = kc.TokenKey(SECRETS[0])
    token = key.mint("a", "b")
    with kc.KeyRing([key]) as ring:
        assert ring.verify(token).sub == "a"
    assert ring.closed
    with pytest.raises(kc.InvalidArgument, match="closed"):
        ring.verify(token)
    # The ring held a copy: the key itself still works, until it is closed.
    assert key.verify(token).sub == "a"
    key.close()
    key.close()  # twice is fine
    with pytest.raises(kc.InvalidArgument, match="closed"):
        kc.jwt_mint(key, "a", "b")
    with pytest.raises(kc.InvalidArgument, match="closed"):
        kc.KeyRing([key])


def test_threads_share_one_ring_and_cross_nothing():
    ring = kc.KeyRing(SECRETS)
    crossed = []
    errors = []

    def work(n):
        try:
            for i in range(300):
                sub = f"user-{n}-{i}"
                secret = SECRETS[(n + i) % len(SECRETS)]
                claims = ring.verify(pyjwt(secret, sub=sub)) if i % 3 == 0 else \
                    ring.verify(kc.TokenKey(secret).mint(sub, "e"))
                if claims.sub != sub or claims.key != (n + i) % len(SECRETS):
                    crossed.append((sub, claims.sub, claims.key))
        except Exception as e:  # noqa: BLE001 - reported below
            errors.append(e)

    threads = [threading.Thread(target=work, args=(n,)) for n in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == [] and crossed == []
