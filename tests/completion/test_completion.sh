#!/usr/bin/env bash
# Drives keldo-crypto's bash completion as readline would: loads the
# completion file into an interactive bash, sets COMP_WORDS, COMP_CWORD,
# COMP_LINE and COMP_POINT for each command line of the table, calls the
# function registered by `complete -p keldo-crypto` and compares COMPREPLY.
#
#   test_completion.sh COMPLETION-FILE
#   test_completion.sh --bash-completion   the one bash-completion finds
#                                          (system installation)
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 COMPLETION-FILE | --bash-completion" >&2; exit 2; }
work=$(mktemp -d "${TMPDIR:-/tmp}/keldo-completion.XXXXXX")
trap 'rm -rf "$work"' EXIT

if [ "$1" = --bash-completion ]; then
  # The loader of bash-completion finds the file by the command's name.
  load='. /usr/share/bash-completion/bash_completion; __load_completion keldo-crypto'
else
  load=". $(printf '%q' "$(realpath "$1")")"
fi

# A directory to complete file names in.
mkdir -p "$work/files/keys"
touch "$work/files/jwt.secret" "$work/files/jwt.token" "$work/files/other file.txt"

cat >"$work/driver.sh" <<'DRIVER'
fail=0
func=$(complete -p keldo-crypto 2>/dev/null | sed -n 's/.*-F \([^ ]*\) .*/\1/p')
if [ -z "$func" ]; then
  echo "FAIL: no completion function registered for keldo-crypto"
  exit 1
fi
# check LINE EXPECTED...: LINE is split at blanks; a trailing blank starts an
# empty word, the one being completed.
check() {
  local line=$1
  shift
  read -r -a COMP_WORDS <<<"$line"
  [[ $line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=$line
  COMP_POINT=${#line}
  COMPREPLY=()
  "$func" keldo-crypto "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  local got want
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | LC_ALL=C sort | tr '\n' ' ')
  want=$(printf '%s\n' "$@" | sed '/^$/d' | LC_ALL=C sort | tr '\n' ' ')
  if [[ $got == "$want" ]]; then
    echo "ok   '$line'"
  else
    echo "FAIL '$line': got [${got% }], expected [${want% }]"
    fail=1
  fi
}
# Only these two KELDO_ variables: CI stages run the suite with backends
# pinned through KELDO_TEST_*_BACKEND, which would be completed as well.
for v in $(compgen -e KELDO_); do unset "$v"; done
export KELDO_JWT_SECRET=x KELDO_TEST_SECRET=y
cd files

# command line                        expected completions
check "keldo-crypto "                 sha256 hmac base64 base64url uuid password jwt --help --version
check "keldo-crypto base"             base64 base64url
check "keldo-crypto --v"              --version
check "keldo-crypto jwt "             mint verify decode -h --help
check "keldo-crypto jwt v"            verify
check "keldo-crypto jwt mint --s"     --sub --secret-file --secret-env
check "keldo-crypto jwt mint --sub "
check "keldo-crypto jwt mint --secret-file jwt."    jwt.secret jwt.token
check "keldo-crypto jwt verify --secret-env KELDO_" KELDO_JWT_SECRET KELDO_TEST_SECRET
check "keldo-crypto jwt verify --secret-file jwt.secret " --secret-file --secret-env - -h --help
check "keldo-crypto jwt decode "      - -h --help
check "keldo-crypto password "        hash verify -h --help
check "keldo-crypto password hash --p"             --password-file
check "keldo-crypto password verify --hash-file k" keys
check "keldo-crypto password verify -"             --hash-file --password-file -q --quiet -h --help
check "keldo-crypto sha256 --st"      --status --strict
check "keldo-crypto sha256 -w o"      "other file.txt"
check "keldo-crypto sha256 "          jwt.secret jwt.token keys "other file.txt"
check "keldo-crypto hmac --key-file j"    jwt.secret jwt.token
check "keldo-crypto hmac --key-env KELDO_J" KELDO_JWT_SECRET
check "keldo-crypto base64 -w "
check "keldo-crypto base64 --wrap = "
check "keldo-crypto base64url --d"    --decode
check "keldo-crypto base64 -d o"      "other file.txt"
check "keldo-crypto uuid "            -n --count -h --help
check "keldo-crypto uuid -n "
exit $fail
DRIVER

# An interactive shell, as the user's, without the user's start-up files.
cd "$work"
bash --norc --noprofile -i -c "$load; . ./driver.sh" 2>"$work/stderr" || {
  cat "$work/stderr" >&2
  exit 1
}
