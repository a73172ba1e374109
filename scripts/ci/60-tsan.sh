#!/usr/bin/env bash
# The concurrency tests under ThreadSanitizer, in their own build directory:
# any data race in the functions documented as reentrant fails the stage.
#   KELDO_TSAN_BUILD_DIR  build directory (default build-tsan)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${KELDO_TSAN_BUILD_DIR:-$top/build-tsan}

"$top/scripts/bootstrap" test hardening
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELDO_WERROR=ON \
  -DKELDO_SANITIZE=thread \
  -DKELDO_BUILD_TOOLS=OFF -DKELDO_BUILD_EXAMPLES=OFF -DKELDO_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target test_threads jwt_threads_r jwt_threads_ring
# The machine's own choice of backends, then the portable ones pinned.
for backend in "" portable; do
  echo "test_threads, SHA-256 and Base64 backends: ${backend:-default}"
  KELDO_TEST_SHA256_BACKEND=$backend KELDO_TEST_BASE64_BACKEND=$backend \
    TSAN_OPTIONS="halt_on_error=1 exitcode=66" "$build/tests/test_threads"
done
# Sixteen threads minting and verifying through the reentrant token
# functions of the shared library, no lock: no race, no crossed token.
TSAN_OPTIONS="halt_on_error=1 exitcode=66" "$build/tests/jwt_threads_r" 300
# Sixteen threads sharing one key ring, rotated between runs.
TSAN_OPTIONS="halt_on_error=1 exitcode=66" "$build/tests/jwt_threads_ring" 200
