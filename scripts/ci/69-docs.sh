#!/usr/bin/env bash
# The examples of README.md and docs/ against the library, tool and example
# host of this CI run (build-test/, which scripts/test has built; only those
# targets are brought up to date here). First the checker's self-test (it
# must refuse a changed shown output, a failing block, an unmarked block),
# then every block marked runnable, in shell, C, Python, JavaScript and C#;
# the Python, Node.js and .NET sets are installed, so no language may be
# skipped (--no-skip); a relative link to a missing file or heading fails
# too (--check-links). check-docs works in temporary folders it removes.
#   KELDO_BUILD_DIR  build directory (default build-test)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${KELDO_BUILD_DIR:-$top/build-test}

"$top/scripts/bootstrap" test python python-web node dotnet
command -v npm >/dev/null 2>&1 || "$top/scripts/bootstrap" node/npm
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELDO_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target keldo_crypto keldo-crypto keldo_example

"$top/scripts/check-docs" --self-test --build "$build"
"$top/scripts/check-docs" --no-skip --check-links --build "$build"
echo "69-docs: every runnable example passed"
