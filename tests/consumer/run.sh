#!/usr/bin/env bash
# Installs a build into a temporary prefix and builds and runs a small C
# program against the installation twice: through find_package and through
# pkg-config. Only the prefix is visible to either lookup.
#
#   run.sh <build dir> <config> <libdir> <cmake> <C compiler> [extra C flags]
#
# The extra flags are those of a sanitized build, which its consumers must
# share.
set -euo pipefail
build=$1 config=$2 libdir=$3 cmake=$4 cc=$5 extra_cflags=${6:-}
here=$(cd "$(dirname "$0")" && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/keldo-consumer.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
case $libdir in /*) lib=$libdir ;; *) lib=$prefix/$libdir ;; esac

fail() { echo "FAIL: $*" >&2; exit 1; }
# Runs a command quietly, showing its output only when it fails.
quiet() { "$@" >"$work/log" 2>&1 || { cat "$work/log" >&2; fail "$*"; }; }

quiet "$cmake" --install "$build" --config "$config" --prefix "$prefix"
for f in "$prefix/include/keldo_crypto.h" "$lib/libkeldo_crypto.so.1" \
         "$lib/libkeldo_crypto.so" "$lib/cmake/keldo_crypto/keldo_crypto-config.cmake" \
         "$lib/cmake/keldo_crypto/keldo_crypto-config-version.cmake" \
         "$lib/pkgconfig/keldo-crypto.pc"; do
  [ -e "$f" ] || fail "not installed: ${f#"$prefix"/}"
done

# The program must load the library from the prefix.
check_loaded_from_prefix() {
  local found
  found=$(ldd "$1" | awk '$1 == "libkeldo_crypto.so.1" {print $3}')
  case $found in
    "$lib"/*) ;;
    *) fail "$1 loads libkeldo_crypto.so.1 from '${found}', not from $lib" ;;
  esac
}

echo "== find_package(keldo_crypto)"
quiet "$cmake" -S "$here" -B "$work/cmake-build" \
  -DCMAKE_BUILD_TYPE="$config" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$extra_cflags" \
  -DCMAKE_PREFIX_PATH="$prefix" -DKELDO_EXPECTED_PREFIX="$prefix" \
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF
quiet "$cmake" --build "$work/cmake-build"
check_loaded_from_prefix "$work/cmake-build/consumer"
"$work/cmake-build/consumer"

echo "== pkg-config keldo-crypto"
export PKG_CONFIG_LIBDIR=$lib/pkgconfig PKG_CONFIG_PATH=
pc_cflags=$(pkg-config --cflags keldo-crypto)
pc_libs=$(pkg-config --libs keldo-crypto)
echo "cflags: $pc_cflags"
echo "libs:   $pc_libs"
# shellcheck disable=SC2086 # the flags are word lists
quiet "$cc" -std=c99 -Wall -Wextra -Wpedantic -Werror $extra_cflags $pc_cflags \
  "$here/consumer.c" $pc_libs -o "$work/pc-consumer"
LD_LIBRARY_PATH=$lib check_loaded_from_prefix "$work/pc-consumer"
LD_LIBRARY_PATH=$lib "$work/pc-consumer"
