#!/usr/bin/env bash
# The WebAssembly build (cmake/toolchains/wasm32-emscripten.cmake) and the
# Node.js package on it:
#  - keldo_crypto.wasm in build-wasm/, yyjson compiled in from Debian's source
#    (scripts/cross/wasm-yyjson); its size must stay within 300 kB;
#  - the whole node:test suite of bindings/node forced onto the module
#    (KELDO_CRYPTO_BACKEND=wasm), with the native library of build-test/
#    beside it for the comparisons of test/wasm.test.js; 66-node.sh runs the
#    same suite on the native library;
#  - 1,000,000 verifies with the module's memory size unchanged;
#  - the browser entry bundled (web/build.mjs) and the test page run in
#    Debian's Chromium, headless, from 127.0.0.1 (a screenshot is kept in
#    build-wasm/browser-test.png);
#  - one quick pass of the benchmarks in Node.js and the browser, which
#    checks that every peer gives the same answers; speed is not judged here;
#  - npm pack of the package with and without the module, sizes printed.
# The package is copied to a temporary folder, removed on every exit.
#   KELDO_BUILD_DIR  build directory holding src/libkeldo_crypto.so (default build-test)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${KELDO_BUILD_DIR:-$top/build-test}
wbuild=$top/build-wasm
jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))

"$top/scripts/bootstrap" test node wasm
command -v npm >/dev/null 2>&1 || "$top/scripts/bootstrap" node/npm

module=$("$top/scripts/build-wasm" "$wbuild")
size=$(stat -c %s "$module")
echo "68-wasm: $module is $size bytes (yyjson $(cut -d' ' -f1 "$wbuild/yyjson/yyjson-source"))"
[ "$size" -le 307200 ] || { echo "68-wasm: the module is over 300 kB" >&2; exit 1; }
# Every function of the shared library's version script is exported.
node -e '
  const fs = require("fs");
  const map = fs.readFileSync(process.argv[1], "utf8").replace(/\/\*[\s\S]*?\*\//g, "");
  const want = [...new Set(map.match(/keldo_[a-z0-9_]+/g))];
  const have = new Set(WebAssembly.Module.exports(new WebAssembly.Module(fs.readFileSync(process.argv[2]))).map((e) => e.name));
  const missing = want.filter((n) => !have.has(n));
  if (missing.length) { console.error("68-wasm: not exported: " + missing.join(" ")); process.exit(1); }
  console.log(`68-wasm: all ${want.length} functions of the version script are exported`);' \
  "$top/src/keldo_crypto.map" "$module"

cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELDO_WERROR=ON >/dev/null
cmake --build "$build" -j"$jobs" --target keldo_crypto
lib="$build/src/libkeldo_crypto.so"
[ -f "$lib" ] || { echo "68-wasm: $lib was not built" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/node"
tar -C "$top/bindings/node" --exclude=node_modules --exclude=wasm --exclude=dist -cf - . | tar -C "$work/node" -xf -
cd "$work/node"
npm ci --no-audit --no-fund --loglevel=error
(cd web && npm ci --no-audit --no-fund --loglevel=error)

# The package as published without the module, then with it.
before=$(npm pack --silent --pack-destination "$work" | tail -n 1)
mkdir wasm && cp "$module" wasm/keldo_crypto.wasm
node web/build.mjs --page
after_dir=$work/after && mkdir "$after_dir"
after=$(npm pack --silent --pack-destination "$after_dir" | tail -n 1)
echo "68-wasm: npm pack without the module $(stat -c %s "$work/$before") bytes, with it $(stat -c %s "$after_dir/$after") bytes" \
  "(unpacked: $(tar -xzOf "$after_dir/$after" package/wasm/keldo_crypto.wasm | wc -c) bytes of .wasm, $(tar -xzOf "$after_dir/$after" package/dist/keldo-crypto.mjs | wc -c) of bundle)"

export KELDO_CRYPTO_LIBRARY=$lib KELDO_CRYPTO_BACKEND=wasm
npm test
node test/wasm-soak.js 1000000
unset KELDO_CRYPTO_BACKEND
node web/browser-test.mjs "$wbuild/browser-test.png"
node bench/wasm.mjs --quick
node web/browser-bench.mjs --quick
echo "68-wasm: WebAssembly build, Node.js suite on it, browser test and benchmarks passed"
