#!/usr/bin/env bash
# The whole suite again with the portable SHA-256 and Base64 code pinned, so
# the reference paths are covered on machines whose default is an accelerated one
# (the main stage runs with the default choice). Reuses the main stage's
# build. Programs that load the shipped library itself keep its own choice.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${KELDO_BUILD_DIR:-$top/build-test}
KELDO_BUILD_DIR=$build "$top/scripts/build"
KELDO_TEST_SHA256_BACKEND=portable KELDO_TEST_BASE64_BACKEND=portable \
  ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
