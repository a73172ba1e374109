#!/usr/bin/env bash
# The Debian packages, built as a distribution builds them and used as a
# user uses them:
#   1. dpkg-buildpackage -us -uc -b in a clean clone of this repository's
#      HEAD (the test suite runs under dh_auto_test);
#   2. lintian on the result: no error and no warning;
#   3. the three packages installed with apt-get, and the install checks run
#      against the system installation: a C consumer through find_package
#      and through pkg-config, every version against project(VERSION),
#      keldo-crypto --version, man keldo-crypto and the function pages, the
#      completion as bash-completion loads it;
#   4. the packages purged, on every way out of this script.
# It refuses to start when any of the packages is already installed, so it
# never removes a user's own installation.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
"$top/scripts/bootstrap" test package

packages=(libkeldo-crypto1 libkeldo-crypto-dev keldo-crypto)
arch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
libdir=/usr/lib/$arch

installed_packages() {
  local p
  for p in "${packages[@]}"; do
    if dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -qv '^unknown ok not-installed$'; then
      echo "$p"
    fi
  done
}

already=$(installed_packages)
if [ -n "$already" ]; then
  echo "80-debian-package: already installed, not touching them: $already" >&2
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/keldo-deb.XXXXXX")
cleanup() {
  local rc=$? left
  trap - EXIT INT TERM HUP
  left=$(installed_packages)
  if [ -n "$left" ]; then
    echo "== purge: $(echo $left)"
    # shellcheck disable=SC2086 # a list of package names
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 purge -y -qq $left >/dev/null || rc=1
    left=$(installed_packages)
    if [ -n "$left" ]; then
      echo "FAIL: still installed after the purge: $left" >&2
      rc=1
    elif [ -e /usr/include/keldo_crypto.h ] || [ -e /usr/bin/keldo-crypto ] ||
         compgen -G "$libdir/libkeldo_crypto.so*" >/dev/null; then
      echo "FAIL: files of the packages are left after the purge" >&2
      rc=1
    else
      echo "purged: nothing of the packages is left"
    fi
  fi
  rm -rf "$work"
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

echo "== dpkg-buildpackage -us -uc -b (clean clone)"
git clone -q --no-hardlinks "$top" "$work/src"
git -C "$work/src" log -1 --format='commit %h %s'
start=$SECONDS
if ! (cd "$work/src" && DEB_BUILD_OPTIONS="parallel=2" dpkg-buildpackage -us -uc -b) \
     >"$work/build.log" 2>&1; then
  tail -n 150 "$work/build.log"
  echo "FAIL: dpkg-buildpackage" >&2
  exit 1
fi
# The project's options, dh's steps, the test summary and what was built;
# the full log is long.
grep -E '^\s+-DKELDO_|^\s*dh_[a-z_]+|tests passed|Total Test time|^dpkg-deb: building' "$work/build.log" |
  sed -e 's/ -O--buildsystem=cmake$//' -e 's/^\s*/   /'
echo "package build: $((SECONDS - start)) s"

echo "== build flags: dpkg-buildflags' hardening in every compile and link, nothing else"
# ctest's echo of its header-only syntax checks (cc -fsyntax-only) is no build.
blhc --bindnow --ignore-line '[0-9]+: Test command: .*' "$work/build.log"
allowed=" $(for v in CPPFLAGS CFLAGS CXXFLAGS LDFLAGS; do
              DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$v"; done | tr '\n' ' ') "
used=$(grep -E '^(cd [^&]* && )?/usr/bin/(c\+\+|cc) ' "$work/build.log" |
       grep -oE -- '-fstack-protector[^ ]*|-f(no-)?stack-clash-protection|-fcf-protection[^ ]*|-[DU]_FORTIFY_SOURCE(=[0-9])?|-Wl,-z,[a-z]+|-f(no-)?(PIE|pie)|-(no-)?pie' |
       sort -u | tr '\n' ' ')
for flag in $used; do
  [[ $allowed == *" $flag "* ]] ||
    { echo "FAIL: $flag in the build is not one of dpkg-buildflags' ($allowed)" >&2; exit 1; }
done
echo "hardening flags used: ${used}- all from dpkg-buildflags"
for deb in "$work"/libkeldo-crypto1_*.deb "$work"/libkeldo-crypto-dev_*.deb "$work"/keldo-crypto_*.deb; do
  echo "-- $(basename "$deb")"
  dpkg-deb -f "$deb" Package Version Architecture Depends | sed 's/^/   /'
  dpkg-deb -c "$deb" | awk '{print "   " $6 ($7 ? " " $7 " " $8 : "")}'
done

echo "== lintian"
changes=$(ls "$work"/*.changes)
# (--show-overrides would count the overridden tags as failures.)
lintian --fail-on error,warning --display-info --pedantic "$changes"
echo "lintian: no errors, no warnings; overridden, each with its reason:"
(cd "$work/src" && grep -H -v '^#' debian/*.lintian-overrides) | sed 's|^debian/|   |'


echo "== apt-get install ./*.deb"
(cd "$work" && DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends \
   ./libkeldo-crypto1_*.deb ./libkeldo-crypto-dev_*.deb ./keldo-crypto_*.deb >/dev/null)
dpkg-query -W -f='${Package} ${Version} ${Status}\n' "${packages[@]}"

echo "== the consumer against the system installation"
"$top/tests/consumer/system.sh" "$libdir"

echo "== versions"
"$top/tests/version/check_versions.sh" "$work/src" --system "$libdir"

echo "== keldo-crypto"
keldo-crypto --version
got=$(printf abc | keldo-crypto sha256)
[ "$got" = "$(printf abc | sha256sum)" ] || { echo "FAIL: keldo-crypto sha256: $got" >&2; exit 1; }
echo "sha256 of 'abc' as sha256sum gives it"

echo "== man"
# man's own warnings (groff's) fail the check, as lintian's do.
render() {
  local out
  out=$(MANWIDTH=80 MAN_KEEP_FORMATTING=0 man --warnings "$@" 2>"$work/man.err" | col -b)
  if [ -s "$work/man.err" ] || [ -z "$out" ]; then
    cat "$work/man.err" >&2
    echo "FAIL: man $*" >&2
    return 1
  fi
  printf '%s\n' "$out"
}
render keldo-crypto | sed -n '1,12p'
echo "   ..."
for page in keldo_crypto keldo_jwt_mint keldo_jwt_verify keldo_crypto_sha256 keldo_crypto_hmac_sha256 \
            keldo_crypto_pbkdf2_sha256 keldo_crypto_base64_encode keldo_crypto_base64_decode \
            keldo_crypto_base64url_encode keldo_crypto_base64url_decode keldo_crypto_uuid_generate \
            keldo_crypto_secure_compare keldo_verify_password_hash keldo_crypto_last_error; do
  lines=$(render 3 "$page" | wc -l)
  echo "man 3 $page: $lines lines"
done

echo "== bash completion, found by bash-completion's loader"
"$top/tests/completion/test_completion.sh" --bash-completion | tail -n 3

echo "80-debian-package: ok"
