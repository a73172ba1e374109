#!/usr/bin/env bash
# The consumer program built against the system installation (the Debian
# packages), as a user of libkeldo-crypto-dev builds: through
# find_package(keldo_crypto) and through pkg-config, with nothing but the
# default search paths; each program must load the system's library.
#
#   system.sh LIBDIR        e.g. /usr/lib/x86_64-linux-gnu
set -euo pipefail
libdir=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/keldo-system-consumer.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
quiet() { "$@" >"$work/log" 2>&1 || { cat "$work/log" >&2; fail "$*"; }; }
loaded_from() { ldd "$1" | awk '$1 == "libkeldo_crypto.so.1" {print $3}'; }
check_loaded() {
  local found
  found=$(loaded_from "$1")
  [ "$(realpath "${found:-/nonexistent}" 2>/dev/null)" = "$(realpath "$libdir/libkeldo_crypto.so.1")" ] ||
    fail "$1 loads libkeldo_crypto.so.1 from '$found', not from $libdir"
}

echo "== find_package(keldo_crypto), default search path"
quiet cmake -S "$here" -B "$work/cmake-build" -DKELDO_EXPECTED_PREFIX="$libdir"
quiet cmake --build "$work/cmake-build"
check_loaded "$work/cmake-build/consumer"
"$work/cmake-build/consumer"

echo "== pkg-config keldo-crypto, default search path"
echo "version: $(pkg-config --modversion keldo-crypto)"
echo "cflags:  $(pkg-config --cflags keldo-crypto)"
echo "libs:    $(pkg-config --libs keldo-crypto)"
# shellcheck disable=SC2046 # the flags are word lists
quiet cc -std=c99 -Wall -Wextra -Wpedantic -Werror $(pkg-config --cflags keldo-crypto) \
  "$here/consumer.c" $(pkg-config --libs keldo-crypto) -o "$work/pc-consumer"
check_loaded "$work/pc-consumer"
"$work/pc-consumer"
