#!/usr/bin/env bash
# Timing check on this machine's own processor, where valgrind's
# constant-time check cannot go (it has neither the SHA extensions nor
# AVX-512): tests/timing/timing_check.cpp times each secret comparison on
# two input classes (mismatch in the first against the last byte) with the
# library's own backends, then with every other one pinned, and prints
# Welch's t per function and backend. |t| > 10 fails the stage; so does
# memcmp, the leaky reference of the same run, when it is not flagged.
# Reuses the main stage's optimised build; about a minute.
#   KELDO_TIMING_SECONDS  the measuring budget (default 60)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${KELDO_BUILD_DIR:-$top/build-test}
KELDO_BUILD_DIR=$build "$top/scripts/build"

"$build/tests/keldo_timing_check" --seconds "${KELDO_TIMING_SECONDS:-60}"
