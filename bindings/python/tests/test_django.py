"""keldo_crypto.django.PBKDF2PasswordHasher against Django's own, with
Debian's python3-django in a minimal settings module: users made with either
hasher log in through the other, a wrong password is refused, and
must_update, harden_runtime and safe_summary behave as Django's."""

import django
import pytest
from django.conf import settings  # noqa: E402

STOCK = "django.contrib.auth.hashers.PBKDF2PasswordHasher"
OURS = "keldo_crypto.django.PBKDF2PasswordHasher"

if not settings.configured:
    settings.configure(
        INSTALLED_APPS=["django.contrib.auth", "django.contrib.contenttypes"],
        DATABASES={"default": {"ENGINE": "django.db.backends.sqlite3", "NAME": ":memory:"}},
        PASSWORD_HASHERS=[OURS, STOCK],
        USE_TZ=True,
    )
    django.setup()

from django.contrib.auth import authenticate  # noqa: E402
from django.contrib.auth.hashers import PBKDF2PasswordHasher as Stock  # noqa: E402
from django.contrib.auth.hashers import (check_password, identify_hasher,  # noqa: E402
                                         make_password)
from django.contrib.auth.models import User  # noqa: E402
from django.core.management import call_command  # noqa: E402
from django.test.utils import override_settings  # noqa: E402

import keldo_crypto as kc  # noqa: E402
from keldo_crypto.django import PBKDF2PasswordHasher  # noqa: E402

ONLY_STOCK = override_settings(PASSWORD_HASHERS=[STOCK])
ONLY_OURS = override_settings(PASSWORD_HASHERS=[OURS])


@pytest.fixture(scope="module", autouse=True)
def database():
    call_command("migrate", verbosity=0, run_syncdb=True)


def test_is_a_drop_in_by_name_and_count():
    ours, stock = PBKDF2PasswordHasher(), Stock()
    assert ours.algorithm == stock.algorithm == "pbkdf2_sha256"
    assert ours.iterations == stock.iterations
    print(f"Django {django.get_version()}, {ours.iterations} iterations")


@pytest.mark.parametrize("salt,password", [
    ("seasalt", "correct horse"), ("Zx9LSs1Rq3hR0nZ1", "pässwört 日本"), ("a", ""),
    ("x" * 64, "p" * 300),
])
def test_encode_is_byte_for_byte_the_stock_hashers(salt, password):
    ours = PBKDF2PasswordHasher()
    stock = Stock()
    for n in (1, 1000, 12345):
        assert ours.encode(password, salt, n) == stock.encode(password, salt, n)


@pytest.mark.parametrize("made_with,login_with", [(STOCK, OURS), (OURS, STOCK), (OURS, OURS)])
def test_users_log_in_through_the_other_hasher(made_with, login_with):
    name = f"user-{made_with[-30:]}-{login_with[-30:]}".replace(".", "-")
    with override_settings(PASSWORD_HASHERS=[made_with]):
        user = User.objects.create_user(name, password="hunter2 pässwört")
    assert user.password.startswith("pbkdf2_sha256$")
    with override_settings(PASSWORD_HASHERS=[login_with]):
        assert authenticate(username=name, password="hunter2 pässwört") == user
        assert authenticate(username=name, password="hunter2 pässwörT") is None
        assert authenticate(username=name, password="") is None
    # The password did not change on the way (no upgrade at the same count).
    user.refresh_from_db()
    assert check_password("hunter2 pässwört", user.password)


def test_check_password_and_make_password_with_ours():
    with ONLY_OURS:
        encoded = make_password("s3cret")
        assert identify_hasher(encoded).__class__ is PBKDF2PasswordHasher
        assert check_password("s3cret", encoded)
        assert not check_password("s3cre", encoded)
    with ONLY_STOCK:
        assert check_password("s3cret", encoded)
        assert not check_password("s3cre", encoded)


def test_must_update_reports_an_iteration_upgrade():
    ours = PBKDF2PasswordHasher()
    old = ours.encode("pw", ours.salt(), ours.iterations // 2)
    current = ours.encode("pw", ours.salt())
    assert ours.must_update(old) is True
    assert ours.must_update(current) is False

    class Stronger(PBKDF2PasswordHasher):
        iterations = PBKDF2PasswordHasher.iterations * 2

    assert Stronger().must_update(current) is True
    # check_password's setter runs for an outdated hash, as Django's does.
    updated = []
    with ONLY_OURS:
        assert check_password("pw", old, setter=updated.append)
    assert updated == ["pw"]   # Django's setter gets the password to hash anew


def test_decode_safe_summary_and_harden_runtime_as_django():
    ours = PBKDF2PasswordHasher()
    stock = Stock()
    encoded = stock.encode("pw", "seasaltseasalt12", 1000)
    assert ours.decode(encoded) == stock.decode(encoded)
    assert ours.safe_summary(encoded) == stock.safe_summary(encoded)
    ours.harden_runtime("pw", encoded)   # runs the missing iterations; no result
    with pytest.raises(ValueError):
        ours.decode("pbkdf2_sha256$notanumber$salt$hash")


def test_over_long_password_still_as_django():
    # Beyond the library's 4096 bytes the stock code runs: still a drop-in.
    ours, stock = PBKDF2PasswordHasher(), Stock()
    encoded = stock.encode("p" * 5000, "salt", 2)
    assert ours.encode("p" * 5000, "salt", 2) == encoded
    assert ours.verify("p" * 5000, encoded)
    assert not ours.verify("p" * 4999 + "q", encoded)


def _outcome(call):
    """What a hasher call answered: ("value", result) or ("raises", class)."""
    try:
        return ("value", call())
    except Exception as e:  # noqa: BLE001 - the class is the answer compared
        return ("raises", type(e))


def _rows():
    stock = Stock()
    good = stock.encode("pw", "seasaltseasalt12", 1000)
    algorithm, count, salt, key = good.split("$")
    return [
        ("stock string", good),
        ("salt of 1025 characters", stock.encode("pw", "s" * 1025, 1000)),
        ("non-ASCII salt", stock.encode("pw", "s\u00e4lz\u65e5", 1000)),
        ("count with a leading zero", f"{algorithm}$0{count}${salt}${key}"),
        ("unpadded hash", f"{algorithm}${count}${salt}${key.rstrip('=')}"),
        ("extra $ field", good + "$x"),
        ("empty hash", f"{algorithm}${count}${salt}$"),
        ("count not a number", f"{algorithm}$ten${salt}${key}"),
        ("count of zero", f"{algorithm}$0${salt}${key}"),
        ("three fields", f"{algorithm}${count}${salt}"),
        ("lone surrogate in the hash", good[:-4] + "\ud800" + good[-3:]),
        ("hash of 31 bytes", f"{algorithm}${count}${salt}${key[:-4]}AA=="),
    ]


@pytest.mark.parametrize("name,encoded", _rows(), ids=[r[0] for r in _rows()])
def test_each_stored_row_is_answered_as_the_stock_hasher_does(name, encoded):
    ours, stock = PBKDF2PasswordHasher(), Stock()
    for call in ("verify right", "verify wrong", "must_update", "safe_summary", "decode"):
        if call == "verify right":
            a, b = (lambda h=h: h.verify("pw", encoded) for h in (ours, stock))
        elif call == "verify wrong":
            a, b = (lambda h=h: h.verify("pW", encoded) for h in (ours, stock))
        else:
            a, b = (lambda h=h: getattr(h, call)(encoded) for h in (ours, stock))
        assert _outcome(a) == _outcome(b), (name, call)


def test_rows_beyond_the_librarys_bounds_go_through_djangos_code(monkeypatch):
    # 10^8 + 1 iterations would take minutes in either hasher: Django's
    # derivation is replaced by a quick stand-in, which the stock hasher and
    # ours must then both call; the library is never asked.
    import hashlib

    from django.contrib.auth import hashers
    monkeypatch.setattr(hashers, "pbkdf2", lambda password, salt, iterations, digest:
                        hashlib.pbkdf2_hmac("sha256", password.encode(), salt.encode(), 1))
    ours, stock = PBKDF2PasswordHasher(), Stock()
    many = 10**8 + 1
    encoded = stock.encode("pw", "seasalt", many)
    assert ours.encode("pw", "seasalt", many) == encoded
    assert ours.verify("pw", encoded) is True and stock.verify("pw", encoded) is True
    assert ours.verify("pW", encoded) is False
    assert ours.decode(encoded)["iterations"] == many
    assert ours.must_update(encoded) is True


def test_make_password_writes_only_what_it_can_check():
    # A long salt is outside the library's bounds: Django's code writes it,
    # and the same hasher reads it back.
    ours = PBKDF2PasswordHasher()
    encoded = ours.encode("pw", "s" * 2000, 1000)
    assert ours.verify("pw", encoded) and not ours.verify("pW", encoded)
    with ONLY_OURS:
        assert check_password("pw", encoded)


def test_malformed_hash_is_a_value_error():
    assert issubclass(kc.MalformedHash, ValueError)
    with pytest.raises(kc.MalformedHash):
        kc.verify_password("pw", "pbkdf2_sha256$1000$salt$\ud800")
