#!/usr/bin/env bash
# Smoke run of the benchmark: it must build with warnings as errors, pass its
# start-up check that every peer gives the same output as ours, and run each
# case once; the same for keldo_bench_internal (each backend pinned). Speed
# is not judged here (see scripts/bench).
# KELDO_BENCH_BUILD_DIR chooses the build directory (default: build-bench-ci).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${KELDO_BENCH_BUILD_DIR:-$top/build-bench-ci}

"$top/scripts/bootstrap" test bench
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELDO_BUILD_BENCH=ON \
  -DKELDO_WERROR=ON -DKELDO_BUILD_TESTS=OFF -DKELDO_BUILD_EXAMPLES=OFF \
  -DKELDO_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target keldo_bench keldo_bench_internal
exe="$build/bench/keldo_bench"
[ -x "$exe" ] || { echo "50-bench-smoke: keldo_bench was not built" >&2; exit 1; }

out="$build/smoke.json"
rm -f "$out"
"$exe" --benchmark_min_time=0.001 --benchmark_out="$out" --benchmark_out_format=json
# The report must read the results (every case ran and none failed) and
# draw its chart.
/usr/bin/python3 "$top/bench/report.py" "$out" --svg "$build/smoke.svg" >/dev/null
grep -q '<svg' "$build/smoke.svg" || { echo "50-bench-smoke: no chart drawn" >&2; exit 1; }

internal="$build/bench/keldo_bench_internal"
[ -x "$internal" ] || { echo "50-bench-smoke: keldo_bench_internal was not built" >&2; exit 1; }
out="$build/smoke-internal.json"
rm -f "$out"
OPENSSL_ia32cap=:~0x20000000 "$internal" --benchmark_min_time=0.001 \
  --benchmark_out="$out" --benchmark_out_format=json
/usr/bin/python3 "$top/bench/report.py" "$out" >/dev/null
echo "50-bench-smoke: benchmark built and ran"
