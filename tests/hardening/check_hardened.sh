#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks that the installed
# library and tool carry the hardening they were built with: a GNU_RELRO
# segment, immediate binding (BIND_NOW), a non-executable stack, and the
# stack protector's canary check.
#
#   check_hardened.sh <cmake> <build dir> <config> <readelf>
set -euo pipefail
cmake=$1 build=$2 config=$3 readelf=$4

work=$(mktemp -d "${TMPDIR:-/tmp}/keldo-hardened.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$cmake" --install "$build" --config "$config" --prefix "$work/prefix" >"$work/log" 2>&1 \
  || { cat "$work/log" >&2; exit 1; }

# bin/keldo-crypto, not the completion file of the same name.
files=$(find "$work/prefix" -type f \( -name 'libkeldo_crypto.so.*' -o -path '*/bin/keldo-crypto' \))
[ -n "$files" ] || { echo "FAIL: nothing installed to check" >&2; exit 1; }

status=0
fail() { echo "FAIL: $*" >&2; status=1; }
for f in $files; do
  name=${f#"$work/prefix/"}
  headers=$("$readelf" -W -l "$f")
  dynamic=$("$readelf" -W -d "$f")
  grep -q 'GNU_RELRO' <<<"$headers" || fail "$name: no GNU_RELRO segment"
  grep -Eq '\(FLAGS\).*BIND_NOW|\(FLAGS_1\).*NOW' <<<"$dynamic" || fail "$name: not linked with -z now"
  stack=$(awk '$1 == "GNU_STACK" {print $(NF - 1)}' <<<"$headers")
  case $stack in
    RW) ;;
    "") fail "$name: no GNU_STACK header (the stack would be executable)" ;;
    *) fail "$name: stack flags $stack, expected RW" ;;
  esac
  symbols=$("$readelf" -W --dyn-syms "$f")
  grep -q '__stack_chk_fail' <<<"$symbols" \
    || fail "$name: no stack protector (no reference to __stack_chk_fail)"
  [ $status -eq 0 ] && echo "ok: $name: GNU_RELRO, BIND_NOW, stack RW, stack protector"
done
exit $status
