#!/usr/bin/env bash
# The Node.js binding (bindings/node): its node:test suite (the Express and
# Fastify components over loopback HTTP among them) and a short run of its
# benchmarks, against the library of this CI run (build-test/, which
# scripts/test has built; only the library target is brought up to date
# here). The package is copied to a temporary folder and its modules are
# installed there with `npm ci` from the registry the machine's npm is
# configured for; the folder is removed on every exit.
#   KELDO_BUILD_DIR  build directory holding src/libkeldo_crypto.so (default build-test)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${KELDO_BUILD_DIR:-$top/build-test}

"$top/scripts/bootstrap" test node
command -v npm >/dev/null 2>&1 || "$top/scripts/bootstrap" node/npm
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELDO_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target keldo_crypto
lib="$build/src/libkeldo_crypto.so"
[ -f "$lib" ] || { echo "66-node: $lib was not built" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/node"
tar -C "$top/bindings/node" --exclude=node_modules -cf - . | tar -C "$work/node" -xf -
cd "$work/node"
npm ci --no-audit --no-fund --loglevel=error
export KELDO_CRYPTO_LIBRARY=$lib
npm test
node bench/bench.mjs --quick
node bench/web.mjs --quick
echo "66-node: Node.js binding tests passed against $lib"
