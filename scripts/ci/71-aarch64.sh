#!/usr/bin/env bash
# Linux aarch64: a cross build with Debian's g++-aarch64-linux-gnu against
# Debian's arm64 yyjson, OpenSSL and GoogleTest unpacked into a sysroot,
# then the suite under qemu-user three times: on a Cortex-A53 (ARMv8.0 with
# the SHA-2 instructions: the ARMv8 backend is chosen, and nothing newer
# than ARMv8.0 may run), on QEMU's "max" processor, and on a Cortex-A53
# whose HWCAP_SHA2 is hidden from the program (no QEMU model lacks the
# instructions), where the portable path must be chosen. A static check
# keeps the SHA-2 instructions inside the ARMv8 backend.
# Tests that drive the build from host programs (Python, shell checkers, an
# installed consumer) need a host-architecture library and run natively only.
#   KELDO_AARCH64_BUILD_DIR  build directory (default build-aarch64)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${KELDO_AARCH64_BUILD_DIR:-$top/build-aarch64}
jobs=$(nproc)
host_only='^(cli_.*|example_host|install_and_consume|jwt_pyjwt_interop)$'

"$top/scripts/bootstrap" test cross
"$top/scripts/cross/aarch64-sysroot" "$build/sysroot"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELDO_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchains/aarch64-linux-gnu.cmake" \
  -DKELDO_TARGET_SYSROOT="$build/sysroot" -DKELDO_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$jobs"

"$top/scripts/cross/check-arm-sha2-placement" "$build/src/libkeldo_crypto.so"

run() {
  echo "== aarch64 tests: $*"
  env "$@" ctest --test-dir "$build" --output-on-failure -j"$jobs" -E "$host_only"
}
run KELDO_QEMU_CPU=cortex-a53
run KELDO_QEMU_CPU=max
run KELDO_QEMU_CPU=cortex-a53 KELDO_QEMU_HIDE_SHA2=1
