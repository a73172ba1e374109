# A token round trip through the installed package, its signature checked
# with Python's own hmac, and SHA-256 against hashlib. Prints the library's
# path, which must lie inside the installed package, as must the compiled
# module that makes the calls.
import base64
import hashlib
import hmac
import sys

import keldo_crypto

path = keldo_crypto.load_library()
secret = hashlib.sha256(b"release check").digest()
token = keldo_crypto.jwt_mint(secret, "user-42", "user@example.com", 600)
claims = keldo_crypto.jwt_verify(token, secret)
assert (claims.sub, claims.email) == ("user-42", "user@example.com"), claims
signed, _, sig = token.rpartition(".")
expected = hmac.new(secret, signed.encode(), hashlib.sha256).digest()
assert base64.urlsafe_b64decode(sig + "=" * (-len(sig) % 4)) == expected, "signature differs from hmac's"
assert keldo_crypto.sha256(b"abc") == hashlib.sha256(b"abc").digest()
maps = open("/proc/self/maps").read()
yyjson = sorted({line.split()[-1] for line in maps.splitlines() if "libyyjson" in line})
print(f"token round trip ok; library {path}; yyjson {' '.join(yyjson)}")
if not yyjson or any(not p.startswith(sys.prefix) for p in yyjson + [path, keldo_crypto._ext.__file__]):
    sys.exit("the library, yyjson or the compiled module was not loaded from the installed package")
