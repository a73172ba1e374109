#!/usr/bin/env bash
# The whole suite again once per SHA-256 and Base64 backend this machine
# runs, pinned, so every accelerated path and the portable reference are
# covered, not only the machine's first choice (which the main stage runs).
# The backends are paired, SHA-256 with Base64, the first choices left out,
# the portable ones last: shani/avx512vbmi run in the main stage, then e.g.
# avx2+avx2, portable+ssse3, portable+portable here. Reuses the main stage's
# build. Programs that load the shipped library itself keep its own choice.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${KELDO_BUILD_DIR:-$top/build-test}
KELDO_BUILD_DIR=$build "$top/scripts/build"

listing=$("$build/tests/keldo_list_backends")
echo "$listing" | sed 's/^/backend here: /'
mapfile -t sha < <(echo "$listing" | awk '$1 == "sha256" {print $2}' | tail -n +2)
mapfile -t b64 < <(echo "$listing" | awk '$1 == "base64" {print $2}' | tail -n +2)
runs=$(( ${#sha[@]} > ${#b64[@]} ? ${#sha[@]} : ${#b64[@]} ))
for ((i = 0; i < runs; i++)); do
  s=${sha[$i]:-portable}
  b=${b64[$i]:-portable}
  echo "== whole suite with SHA-256 $s, Base64 $b pinned"
  KELDO_TEST_SHA256_BACKEND=$s KELDO_TEST_BASE64_BACKEND=$b \
    ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
done
