#!/usr/bin/env bash
# Constant-time check: a KELDO_CT_CHECK build (release optimisation, as
# shipped) whose secrets are marked for valgrind's memcheck, then the check
# program and its two canaries under memcheck. A branch or a load address
# that depends on a secret fails the stage, and so does a canary that goes
# unreported. valgrind presents a processor with AVX2 and BMI2 but without
# the SHA extensions or AVX-512, so the check runs the AVX2 SHA-256 and
# Base64 backends (the library's choice there), then again with the portable
# ones pinned.
#   KELDO_CT_BUILD_DIR  build directory (default build-ctgrind)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${KELDO_CT_BUILD_DIR:-$top/build-ctgrind}

"$top/scripts/bootstrap" test hardening
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELDO_WERROR=ON \
  -DKELDO_CT_CHECK=ON \
  -DKELDO_BUILD_TOOLS=OFF -DKELDO_BUILD_EXAMPLES=OFF -DKELDO_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target ct_check ct_canary
ctest --test-dir "$build" -L '^ct$' --output-on-failure -j"$(nproc)"
echo "ct_check again with the portable SHA-256 and Base64 backends pinned"
KELDO_TEST_SHA256_BACKEND=portable KELDO_TEST_BASE64_BACKEND=portable \
  ctest --test-dir "$build" -R '^ct_check$' --output-on-failure
