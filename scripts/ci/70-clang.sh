#!/usr/bin/env bash
# The native build with Clang, every warning an error, and the whole suite.
#   KELDO_CLANG_BUILD_DIR  build directory (default build-clang)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${KELDO_CLANG_BUILD_DIR:-$top/build-clang}

"$top/scripts/bootstrap" test hardening
CC=clang CXX=clang++ KELDO_BUILD_DIR=$build "$top/scripts/test"
# A directory configured earlier with another compiler would keep it.
grep -q '^CMAKE_CXX_COMPILER:.*clang' "$build/CMakeCache.txt" || {
  echo "70-clang: $build is not configured with clang++" >&2
  exit 1
}
