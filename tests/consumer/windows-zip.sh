#!/usr/bin/env bash
# Unpacks the Windows package into an empty folder, checks its file list,
# and builds two programs against what is in it and nothing else, each run
# under Wine with the package's two DLLs beside it, as an application would
# ship them:
#  - consumer.c with MinGW-w64 GCC, linked -L lib -lkeldo_crypto
#    (libkeldo_crypto.dll.a);
#  - msvc_consumer.c for the MSVC ABI with clang and lld-link, linked to
#    lib/keldo_crypto.lib.
#
#   windows-zip.sh ZIP WINE_RUN   (WINEPREFIX: an initialised Wine prefix)
set -euo pipefail
zip=${1:?usage: windows-zip.sh ZIP WINE_RUN}
wine_run=${2:?usage: windows-zip.sh ZIP WINE_RUN}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/keldo-win64-zip.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
quiet() { "$@" >"$work/log" 2>&1 || { cat "$work/log" >&2; fail "$*"; }; }

pkg=$work/package
mkdir -p "$pkg"
(cd "$pkg" && cmake -E tar xf "$zip")
expected="LICENSE.txt
README-windows.txt
bin/keldo_crypto.dll
bin/libyyjson.LICENSE.txt
bin/libyyjson.dll
include/keldo_crypto.h
lib/keldo_crypto.def
lib/keldo_crypto.lib
lib/libkeldo_crypto.dll.a"
got=$(cd "$pkg" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
[ "$got" = "$expected" ] || fail "the package holds:
$got
expected:
$expected"
# The project's licence and yyjson's, as the zip redistributes both.
head -n 1 "$pkg/LICENSE.txt" | tr -d '\r' | grep -qx 'MIT License' || fail "LICENSE.txt is not the MIT licence"
grep -q 'MIT License' "$pkg/bin/libyyjson.LICENSE.txt" || fail "bin/libyyjson.LICENSE.txt is not yyjson's MIT licence"
grep -q 'SPDX-License-Identifier: MIT' "$pkg/README-windows.txt" || fail "README-windows.txt names no licence"
echo "$(basename "$zip"):"
(cd "$pkg" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | while read -r f; do
  printf '  %8d  %s\n' "$(stat -c %s "$f")" "$f"; done)

# What Windows shows in the shipped DLL's properties.
version=$(basename "$zip" .zip)
version=${version#keldo-crypto-}
quiet "$here/../../scripts/cross/check-dll-version" "$pkg/bin/keldo_crypto.dll" "${version%-win64}"
echo "bin/keldo_crypto.dll: version resource of keldo-crypto ${version%-win64}"

# Nothing but the Wine prefix's system DLLs and those beside the program.
unset WINEPATH KELDO_WINE_DLL_PATH
run() {
  local exe=$1 out
  cp "$pkg"/bin/*.dll "$(dirname "$exe")/"
  out=$("$wine_run" "$exe" 2>&1) || { echo "$out" >&2; fail "$(basename "$exe") under Wine"; }
  echo "$out"
}

mkdir -p "$work/mingw"
quiet x86_64-w64-mingw32-gcc -std=c11 -O2 -Wall -Wextra -Werror -I "$pkg/include" \
  "$here/consumer.c" -L "$pkg/lib" -lkeldo_crypto -o "$work/mingw/consumer.exe"
imports=$(x86_64-w64-mingw32-objdump -p "$work/mingw/consumer.exe")
grep -q 'DLL Name: keldo_crypto.dll' <<<"$imports" || fail "the MinGW consumer does not import keldo_crypto.dll"
echo "MinGW-w64 GCC, -L lib -lkeldo_crypto:"
run "$work/mingw/consumer.exe"

# MSVC's C runtime and Windows SDK are not available here: the program
# needs only kernel32, whose import library is made from the five functions
# it calls.
mkdir -p "$work/msvc"
printf 'LIBRARY KERNEL32.dll\nEXPORTS\n%s\n' "GetStdHandle WriteFile GetModuleHandleA GetProcAddress ExitProcess" |
  tr ' ' '\n' >"$work/msvc/kernel32.def"
quiet llvm-dlltool-14 -m i386:x86-64 -d "$work/msvc/kernel32.def" -l "$work/msvc/kernel32.lib"
quiet clang-14 --target=x86_64-pc-windows-msvc -ffreestanding -O2 -Wall -Wextra -Werror \
  -I "$pkg/include" -c "$here/msvc_consumer.c" -o "$work/msvc/consumer.obj"
quiet lld-link-14 /nologo /entry:consumer_start /subsystem:console /nodefaultlib \
  /out:"$work/msvc/consumer.exe" "$work/msvc/consumer.obj" "$pkg/lib/keldo_crypto.lib" \
  "$work/msvc/kernel32.lib"
echo "clang --target=x86_64-pc-windows-msvc and lld-link, lib/keldo_crypto.lib:"
run "$work/msvc/consumer.exe"
