#!/usr/bin/env bash
# The native build with Clang, every warning an error, and the whole suite.
#   KELDO_CLANG_BUILD_DIR  build directory (default build-clang)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${KELDO_CLANG_BUILD_DIR:-$top/build-clang}
jobs=$(nproc)

"$top/scripts/bootstrap"
CC=clang CXX=clang++ cmake -S "$top" -B "$build" -DKELDO_WERROR=ON >/dev/null
grep -q '^CMAKE_CXX_COMPILER:.*clang' "$build/CMakeCache.txt" || {
  echo "70-clang: $build is not configured with clang++" >&2
  exit 1
}
cmake --build "$build" -j"$jobs"
ctest --test-dir "$build" --output-on-failure -j"$jobs"
