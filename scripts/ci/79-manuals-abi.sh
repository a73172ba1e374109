#!/usr/bin/env bash
# The manual pages, the bash completion and the ABI, against the build:
#   - every page in man/ lints clean with mandoc -Tlint and groff -ww, and
#     man renders it at 80 columns without a warning (lintian's check);
#   - every exported function of the header has a page, and every option
#     that `keldo-crypto ... --help` lists is in keldo-crypto(1) and in the
#     completion;
#   - the library's ABI equals the baseline src/keldo_crypto.abi
#     (scripts/abi-check), and the check catches planted breaks.
# Builds only the library and the tool, with debug information, into
# build-abi/.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"
"$top/scripts/bootstrap" package

build=$top/build-abi
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELDO_WERROR=ON \
  -DKELDO_BUILD_TESTS=OFF -DKELDO_BUILD_EXAMPLES=OFF -DKELDO_BUILD_TOOLS=ON >/dev/null
cmake --build "$build" -j2 --target keldo_crypto keldo-crypto >/dev/null
tool=$build/tools/keldo-crypto/keldo-crypto

fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }

echo "== manual pages: mandoc -Tlint, groff -ww, man --warnings"
mapfile -t pages < <(find man -type f -name '*.[0-9]' | sort)
mapfile -t links < <(find man -type l -name '*.[0-9]' | sort)
work=$(mktemp -d "${TMPDIR:-/tmp}/keldo-manuals.XXXXXX")
trap 'rm -rf "$work"' EXIT
mandoc -Tlint -W warning "${pages[@]}" || bad "mandoc -Tlint"
for page in "${pages[@]}"; do
  groff -ww -z -mandoc "$page" 2>"$work/groff" || true
  [ ! -s "$work/groff" ] || { cat "$work/groff" >&2; bad "groff -ww $page"; }
  MANWIDTH=80 man --warnings -E UTF-8 -l "$page" >/dev/null 2>"$work/man" || true
  [ ! -s "$work/man" ] || { cat "$work/man" >&2; bad "man --warnings $page"; }
done
for link in "${links[@]}"; do
  target=$(readlink "$link")
  [[ $target != */* && -f $(dirname "$link")/$target ]] ||
    bad "$link -> $target: not a page beside it"
done
echo "${#pages[@]} pages and ${#links[@]} links checked"

echo "== every export has a page"
mapfile -t exports < <(sed -n 's/^KELDO_API [^(]*[ *]\([a-z_0-9]*\)(.*/\1/p' include/keldo_crypto.h)
[ "${#exports[@]}" -eq 25 ] || bad "found ${#exports[@]} exports in the header, expected 25 (13 + 8 of interface 1.1 + 4 of 1.2)"
for fn in "${exports[@]}"; do
  page=man/man3/$fn.3
  if [ ! -e "$page" ]; then
    bad "no page man/man3/$fn.3"
  elif ! grep -q "^\.Nm $fn\( ,\)\?\$" "$(realpath "$page")"; then
    bad "$page does not name $fn in its NAME section"
  fi
done
echo "${#exports[@]} functions"

echo "== every option of the tool's help in keldo-crypto(1) and the completion"
manual=man/man1/keldo-crypto.1
completion=tools/keldo-crypto/keldo-crypto.bash
count=0
for cmd in "" sha256 hmac base64 base64url uuid "password hash" "password verify" \
           "jwt mint" "jwt verify" "jwt decode"; do
  # shellcheck disable=SC2086 # cmd is one or two words
  for opt in $("$tool" $cmd --help | grep -oE -- '(^|[][ ,(|])--?[a-zA-Z][a-zA-Z0-9-]*' |
               sed 's/^[][ ,(|]*//' | sort -u); do
    count=$((count + 1))
    if [[ $opt == --* ]]; then
      grep -qE "Fl Fl ${opt#--}([^a-zA-Z0-9-]|\$)" "$manual" || bad "keldo-crypto(1) lacks $opt ($cmd)"
    else
      grep -qE "Fl ${opt#-}([^a-zA-Z0-9-]|\$)" "$manual" || bad "keldo-crypto(1) lacks $opt ($cmd)"
    fi
    grep -qE -- "(^|[ \"(|])$opt([ \"|)]|\$)" "$completion" || bad "the completion lacks $opt ($cmd)"
  done
done
echo "$count options of 11 help texts"

echo "== ABI"
scripts/abi-check --self-test
scripts/abi-check "$build/src/libkeldo_crypto.so.1"

exit $fail
