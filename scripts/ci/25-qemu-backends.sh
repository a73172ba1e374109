#!/usr/bin/env bash
# The backend, hashing and codec suites under `qemu-x86_64 -cpu max`, which
# emulates AVX2 and BMI2 but neither the SHA extensions nor AVX-512: the
# AVX2 code runs even where the machine lacks it, and test_dispatch sees
# the AVX2 SHA-256 backend chosen where the SHA extensions are absent. Each
# suite runs with the emulated processor's own choice, then once per
# backend it runs, pinned. Reuses the main stage's build.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${KELDO_BUILD_DIR:-$top/build-test}
"$top/scripts/bootstrap" test cross
KELDO_BUILD_DIR=$build "$top/scripts/build"

qemu=(qemu-x86_64 -cpu max)
listing=$("${qemu[@]}" "$build/tests/keldo_list_backends")
echo "$listing" | sed 's/^/backend under qemu -cpu max: /'
suites=(test_dispatch test_sha256_backends test_base64_backends test_base64 test_sha256
        test_hmac test_pbkdf2)
for t in "${suites[@]}"; do
  echo "== $t (qemu -cpu max, its own choice)"
  "${qemu[@]}" "$build/tests/$t" --gtest_brief=1
done
mapfile -t sha < <(echo "$listing" | awk '$1 == "sha256" {print $2}')
mapfile -t b64 < <(echo "$listing" | awk '$1 == "base64" {print $2}')
for s in "${sha[@]}"; do
  for t in test_sha256 test_hmac test_pbkdf2; do
    echo "== $t (qemu -cpu max, SHA-256 $s pinned)"
    KELDO_TEST_SHA256_BACKEND=$s "${qemu[@]}" "$build/tests/$t" --gtest_brief=1
  done
done
for b in "${b64[@]}"; do
  echo "== test_base64 (qemu -cpu max, Base64 $b pinned)"
  KELDO_TEST_BASE64_BACKEND=$b "${qemu[@]}" "$build/tests/test_base64" --gtest_brief=1
done
