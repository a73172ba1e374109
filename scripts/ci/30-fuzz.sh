#!/usr/bin/env bash
# Fuzz smoke run: builds the fuzz targets with Clang, libFuzzer, ASan and
# UBSan in their own build directory and runs each for a bounded time from
# the committed seeds, then the hashing and codec targets once more with
# each other backend this machine runs pinned (the first choice being the
# default run): AVX2 SHA-256 and Base64 where the machine has AVX2, the
# SSSE3 Base64 loops, the portable code, each for a third of the time; then
# the reentrant token functions; then the password-hash reader and the
# command-line tool's parsers for a shorter time. Any crash, sanitizer
# report, leak, timeout or broken property fails the stage; the input that
# caused it is printed so it can be added to the seeds. Two runs at a time:
# on a machine with AVX2, 3 x 45 + 3 x 15 + 2 x 20 = 220 s of fuzzing plus
# the build.
#   KELDO_FUZZ_SECONDS  time per run of the library's targets (default 45;
#                       a third of it for each pinned backend)
#   KELDO_FUZZ_TOOL_SECONDS  time per run of the password and tool targets
#                       (default 20)
#   KELDO_FUZZ_BUILD_DIR  build directory (default build-fuzz)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${KELDO_FUZZ_BUILD_DIR:-$top/build-fuzz}
library_seconds=${KELDO_FUZZ_SECONDS:-45}
tool_seconds=${KELDO_FUZZ_TOOL_SECONDS:-20}
seconds=$library_seconds
jobs=$(nproc)

"$top/scripts/bootstrap" test hardening
CC=clang CXX=clang++ cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKELDO_BUILD_FUZZ=ON -DKELDO_SANITIZE=address,undefined \
  -DKELDO_BUILD_TOOLS=OFF -DKELDO_BUILD_EXAMPLES=OFF -DKELDO_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target fuzz_base64 fuzz_jwt fuzz_jwt_r fuzz_jwt_k fuzz_hash fuzz_compare \
  fuzz_password fuzz_tool_checksum fuzz_tool_base64_stream fuzz_tool_json_print

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# run NAME TARGET [VAR=value...]: one bounded run in the background.
run() {
  local name=$1 target=$2
  shift 2
  local dir="$work/$name" dict=()
  mkdir -p "$dir/corpus"
  [ -f "$top/tests/fuzz/$target.dict" ] && dict=(-dict="$top/tests/fuzz/$target.dict")
  (cd "$dir" && env "$@" "$build/tests/fuzz_$target" -max_total_time="$seconds" \
      -max_len=4096 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$dir/" "${dict[@]}" "$dir/corpus" "$top/tests/fuzz/corpus/$target" \
      >"$dir/log" 2>&1) &
  pids+=($!)
  names+=("$name")
}

report() {
  local name=$1 rc=$2 dir="$work/$1"
  local execs
  execs=$(awk '/stat::number_of_executed_units/ {print $2}' "$dir/log")
  if [ "$rc" -eq 0 ]; then
    echo "fuzz $name: ${execs:-?} runs, no finding"
    return 0
  fi
  echo "fuzz $name: FAILED (exit $rc)"
  tail -n 60 "$dir/log"
  for a in "$dir"/crash-* "$dir"/leak-* "$dir"/timeout-* "$dir"/oom-*; do
    [ -e "$a" ] || continue
    echo "input $(basename "$a") (base64): $(base64 -w0 "$a")"
  done
  return 1
}

# Whether the target starts with a backend pinned (a backend this machine
# cannot run stops the program before the fuzzer starts).
pin_runs() {  # pin_runs TARGET VAR=value
  env "$2" "$build/tests/fuzz_$1" -runs=0 >/dev/null 2>&1
}

status=0
# Two runs at a time on two cores; NAME:TARGET[:VAR=value].
batches=("base64:base64 jwt:jwt" "compare:compare hash:hash")
pinned=()
for b in avx2 portable; do
  pin_runs hash "KELDO_TEST_SHA256_BACKEND=$b" &&
    pinned+=("hash-$b:hash:KELDO_TEST_SHA256_BACKEND=$b")
done
for b in avx2 ssse3 portable; do
  pin_runs base64 "KELDO_TEST_BASE64_BACKEND=$b" &&
    pinned+=("base64-$b:base64:KELDO_TEST_BASE64_BACKEND=$b")
done
for ((i = 0; i < ${#pinned[@]}; i += 2)); do
  batches+=("${pinned[*]:$i:2}")
done
# The reentrant token functions and the key rings, side by side.
batches+=("jwt_r:jwt_r jwt_k:jwt_k")
batches+=("tool_checksum:tool_checksum tool_base64_stream:tool_base64_stream"
          "password:password tool_json_print:tool_json_print")
for batch in "${batches[@]}"; do
  case $batch in
    tool_*|password:*) seconds=$tool_seconds ;;
    *KELDO_TEST_*) seconds=$(( (library_seconds + 2) / 3 )) ;;
    *) seconds=$library_seconds ;;
  esac
  pids=()
  names=()
  for entry in $batch; do
    IFS=: read -r name target setting <<<"$entry"
    if [ -n "$setting" ]; then run "$name" "$target" "$setting"; else run "$name" "$target"; fi
  done
  for i in "${!pids[@]}"; do
    rc=0
    wait "${pids[$i]}" || rc=$?
    report "${names[$i]}" "$rc" || status=1
  done
  pids=()
done
exit $status
