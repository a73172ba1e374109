#!/usr/bin/env bash
# Runs the example host and checks what it prints against OpenSSL and the
# library's documented messages.
#   check_example.sh <keldo_example> <openssl>
set -euo pipefail
example=$1 openssl=$2
status=0

fail() { echo "FAIL: $*" >&2; status=1; }

expect_line() {  # <output> <fixed text that one line must contain>
  grep -qF -- "$2" <<<"$1" || fail "no line with: $2"
}

# One run: each derives a password hash three times at full cost.
text="ünïcödé, spaces and \$pecial 'chars'"
out=$("$example" "$text") || fail "exit status $?"
echo "$out"
want=$(printf '%s' "$text" | "$openssl" dgst -sha256 -r | cut -d' ' -f1)
got=$(awk '$1 == "sha256:" {print $2}' <<<"$out")
[ "$got" = "$want" ] || fail "SHA-256: example printed '$got', OpenSSL '$want'"
want=$(printf '%s' "GET /orders/42" | "$openssl" dgst -sha256 -hmac "example HMAC key" -r | cut -d' ' -f1)
got=$(awk '$1 == "hmac:" {print $2}' <<<"$out")
[ "$got" = "$want" ] || fail "HMAC-SHA256: example printed '$got', OpenSSL '$want'"

expect_line "$out" "keldo_crypto_sha256: null output buffer"
expect_line "$out" "keldo_crypto_base64_decode: decode failed or buffer too small"
expect_line "$out" "fbefbeff:  base64 ++++/w==, base64url ----_w"
expect_line "$out" "the same password matches"
expect_line "$out" "keldo_verify_password_hash: password hash mismatch"
expect_line "$out" "sub=user-42 email=ada@example.org exp="
expect_line "$out" "refused:   another secret: jwt_verify: signature verification failed"
grep -qE '^  uuid: +[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$' <<<"$out" \
  || fail "no version 4 UUID line"
grep -qE '^  stored: +\$pbkdf2-sha256\$i=[0-9]+\$[A-Za-z0-9+/]{22}==\$[A-Za-z0-9+/]{43}=$' <<<"$out" \
  || fail "no stored password hash line"
if grep -q UNEXPECTED <<<"$out"; then fail "the example reported an unexpected failure"; fi
exit $status
