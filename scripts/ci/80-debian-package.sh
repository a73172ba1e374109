#!/usr/bin/env bash
# The Debian packages, built as a distribution builds them and used as a
# user of a clean Debian 12 uses them:
#   1. scripts/package-debian: the source package of HEAD, built in a fresh
#      minimal bookworm tree that gets yyjson's packages and then the
#      Build-Depends through apt-get build-dep and nothing else (the test
#      suites run under dh_auto_test); lintian there on source and binaries,
#      no error and no warning. The bundle is left in build-debian/bundle;
#   2. the build log checked for dpkg-buildflags' hardening, the packages'
#      fields and files listed;
#   3. a second fresh tree with nothing but this machine's apt
#      configuration: `apt-get install ./*.deb` in the bundle, then
#      keldo-crypto --version and python3 -c "import keldo_crypto";
#   4. the autopkgtest tests of debian/tests (the C consumer through
#      pkg-config and find_package, the tool's round trip, the Python
#      module's round trip) run by autopkgtest against the installed
#      packages, with the chroot virtualisation server in that tree;
#   5. the bundle's packages purged: none of their files, no dpkg record
#      left.
# Then, on the host (installed packages of its own are left alone): the
# packages installed with apt-get, the install checks (versions, manual
# pages, completion as bash-completion loads it), and a purge, on every way
# out of this script.
#   KELDO_DEBIAN_REUSE=1  take the bundle package-debian made for this same
#                         commit in an earlier run (when working on the
#                         later steps)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
"$top/scripts/bootstrap" test package
# shellcheck source=../lib/debian-tree.sh
. "$top/scripts/lib/debian-tree.sh"

[ "$(id -u)" -eq 0 ] || { echo "80-debian-package: needs root (debootstrap, mount, chroot)" >&2; exit 1; }
fail() { echo "FAIL: $*" >&2; exit 1; }

packages=(libkeldo-crypto1 libkeldo-crypto-dev keldo-crypto python3-keldo-crypto)
arch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
libdir=/usr/lib/$arch
bundle=$top/build-debian/bundle
root=$top/build-debian/install-root

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
  echo "80-debian-package: already installed on this machine, not touching them: $already" >&2
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/keldo-deb.XXXXXX")
host_installed=0
cleanup() {
  local rc=$? left
  trap - EXIT INT TERM HUP
  dt_release_all
  if [ "$host_installed" = 1 ]; then
    left=$(installed_packages)
    if [ -n "$left" ]; then
      echo "== purge on the host: $(echo $left)"
      # shellcheck disable=SC2086 # a list of package names
      DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 purge -y -qq $left >/dev/null || rc=1
      left=$(installed_packages)
      if [ -n "$left" ]; then
        echo "FAIL: still installed after the purge: $left" >&2
        rc=1
      elif [ -e /usr/include/keldo_crypto.h ] || [ -e /usr/bin/keldo-crypto ] ||
           [ -e /usr/lib/python3/dist-packages/keldo_crypto ] ||
           compgen -G "$libdir/libkeldo_crypto.so*" >/dev/null; then
        echo "FAIL: files of the packages are left after the purge" >&2
        rc=1
      else
        echo "purged: nothing of the packages is left"
      fi
    fi
  fi
  rm -rf "$work"
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

echo "== scripts/package-debian: source package built in a clean Debian 12 tree"
git -C "$top" log -1 --format='commit %h %s'
start=$SECONDS
"$top/scripts/package-debian" ${KELDO_DEBIAN_REUSE:+--reuse} "$bundle"
log=$top/build-debian/bundle.build.log
# The project's options, dh's steps, the test summaries and what was built.
grep -E '^\s+-DKELDO_|^\s*dh_[a-z_0-9]+|tests passed|Total Test time| passed.* in [0-9.]+s|^dpkg-deb: building' "$log" |
  sed -e 's/ -O--buildsystem=cmake$//' -e 's/^\s*/   /' | uniq
echo "package build in the clean tree, lintian included: $((SECONDS - start)) s"

echo "== build flags: dpkg-buildflags' hardening in every compile and link, nothing else"
# ctest's echo of its header-only syntax checks (cc -fsyntax-only) is no build.
blhc --bindnow --ignore-line '[0-9]+: Test command: .*' "$log"
allowed=" $(for v in CPPFLAGS CFLAGS CXXFLAGS LDFLAGS; do
              DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$v"; done | tr '\n' ' ') "
used=$(grep -E '^(cd [^&]* && )?/usr/bin/(c\+\+|cc) ' "$log" |
       grep -oE -- '-fstack-protector[^ ]*|-f(no-)?stack-clash-protection|-fcf-protection[^ ]*|-[DU]_FORTIFY_SOURCE(=[0-9])?|-Wl,-z,[a-z]+|-f(no-)?(PIE|pie)|-(no-)?pie' |
       sort -u | tr '\n' ' ')
for flag in $used; do
  [[ $allowed == *" $flag "* ]] ||
    fail "$flag in the build is not one of dpkg-buildflags' ($allowed)"
done
echo "hardening flags used: ${used}- all from dpkg-buildflags"

echo "== the bundle"
(cd "$bundle" && sha256sum -c --quiet SHA256SUMS && find . -maxdepth 1 -type f -printf '   %9s  %P\n' | LC_ALL=C sort -k2)
sed 's/^/   /' "$bundle/yyjson.txt"
for deb in "$bundle"/*.deb; do
  echo "-- $(basename "$deb")"
  dpkg-deb -f "$deb" Package Version Architecture Multi-Arch Depends | sed 's/^/   /'
  case $(basename "$deb") in libyyjson0_*) continue ;; esac
  dpkg-deb -c "$deb" | awk '{print "   " $6 ($7 ? " " $7 " " $8 : "")}'
done
# The binding needs the interface of its own MAJOR.MINOR.
version=$(sed -n 's/^project(keldo_crypto VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
want="libkeldo-crypto1 (>= $(cut -d. -f1,2 <<<"$version"))"
dpkg-deb -f "$bundle"/python3-keldo-crypto_*.deb Depends | tr ',' '\n' | sed 's/^ *//' | grep -qxF "$want" ||
  fail "python3-keldo-crypto does not depend on $want"
[ "$(dpkg-deb -f "$bundle"/keldo-crypto_*.deb Multi-Arch)" = foreign ] || fail "keldo-crypto is not Multi-Arch: foreign"

echo "== a clean Debian 12 tree: apt-get install ./*.deb in the bundle, nothing else configured"
t=$SECONDS
dt_release "$root"
dt_tree "$root"
mkdir -p "$root/root/bundle"
cp "$bundle"/*.deb "$root/root/bundle/"
dt_run "$root" "apt-get -qq update && cd /root/bundle && apt-get install -y -q ./*.deb" >"$work/install.log" 2>&1 ||
  { tail -n 40 "$work/install.log" >&2; fail "apt-get install ./*.deb in a clean tree"; }
grep -E '^(The following NEW packages|[0-9]+ upgraded)' -A3 "$work/install.log" | sed 's/^/   /' | grep -v '^   --$' || true
mapfile -t bundled < <(for d in "$bundle"/*.deb; do dpkg-deb -f "$d" Package; done)
dt_run "$root" "dpkg-query -W -f='   \${Package} \${Version} \${Status}\n' ${bundled[*]}"
echo "installed in $((SECONDS - t)) s"
dt_run "$root" "keldo-crypto --version && python3 -c 'import keldo_crypto; print(\"import keldo_crypto:\", keldo_crypto.load_library())'"

echo "== autopkgtest (debian/tests) against the installed packages, chroot virt in the tree"
t=$SECONDS
# The source tree the tests run in: the source package's, unpacked.
# (unsigned: dpkg-source warns about it, so its output is shown on failure only)
(cd "$work" && dpkg-source -x "$bundle"/keldo-crypto_*.dsc src >"$work/x.log" 2>&1) || { cat "$work/x.log" >&2; fail "dpkg-source -x"; }
# The tests' own Depends are installed by autopkgtest with apt in the tree.
if ! autopkgtest --no-built-binaries --output-dir "$work/autopkgtest" "$work/src/" -- chroot "$root" \
     >"$work/autopkgtest.log" 2>&1; then
  cat "$work/autopkgtest.log" >&2
  fail "autopkgtest"
fi
sed -n '/@@@@@@@@@@@@@@@@@@@@ summary/,$p' "$work/autopkgtest.log" | sed 's/^/   /'
for t_name in c-consumer tool python; do
  echo "-- $t_name"
  sed 's/^/   /' "$work/autopkgtest/$t_name-stdout" 2>/dev/null || true
done
echo "autopkgtest: $((SECONDS - t)) s"

echo "== purge the bundle's packages in the tree: nothing left"
# (dpkg -L separates the packages' lists with blank lines, and each begins with /.)
dt_run "$root" "dpkg -L ${bundled[*]}" | grep '^/.' | grep -vx '/\.' | LC_ALL=C sort -u >"$work/files"
dt_run "$root" "apt-get purge -y -qq ${bundled[*]} >/dev/null"
left=$(dt_run "$root" "dpkg-query -W -f='\${Package} \${Status}\n' ${bundled[*]} 2>/dev/null | grep -v ' not-installed\$' || true")
[ -z "$left" ] || fail "dpkg still knows after the purge: $left"
# Every path the packages had is gone, or another installed package owns it
# (/usr, /usr/share/doc, ...).
while read -r path; do
  [ -e "$root$path" ] || [ -L "$root$path" ] || continue
  owner=$(dt_run "$root" "dpkg -S '$path' 2>/dev/null" || true)
  [ -n "$owner" ] || fail "$path is left after the purge, and no package owns it"
  grep -qE "(^|, )($(IFS='|'; echo "${bundled[*]}"))[:,]" <<<"$owner" &&
    fail "$path is still recorded for a purged package: $owner"
done <"$work/files"
strays=$(dt_run "$root" "find / -xdev \\( -path /root/bundle -o -path /tmp -o -path /var/cache/apt/archives \\) -prune -o \\( -iname '*keldo*' -o -iname '*yyjson*' \\) -print")
[ -z "$strays" ] || fail "left after the purge: $strays"
echo "purged ${bundled[*]}: $(wc -l <"$work/files") paths checked, none left that no other package owns; no file named keldo or yyjson"
dt_release "$root"

echo "== on this machine: apt-get install, versions, manual pages, completion"
host_installed=1
debs=()
for p in "${packages[@]}"; do debs+=("$(ls "$bundle/${p}_"*.deb)"); done
# yyjson is already here (scripts/bootstrap installed it for the build).
DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends \
  "${debs[@]}" >/dev/null
dpkg-query -W -f='   ${Package} ${Version} ${Status}\n' "${packages[@]}"
"$top/tests/consumer/system.sh" "$libdir" | sed 's/^/   /'
(cd "$work" && dpkg-source -x "$bundle"/keldo-crypto_*.dsc host-src >"$work/x.log" 2>&1) || { cat "$work/x.log" >&2; fail "dpkg-source -x"; }
"$top/tests/version/check_versions.sh" "$work/host-src" --system "$libdir" | sed 's/^/   /'

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
render keldo-crypto | sed -n '1,6p'
echo "   ..."
for page in keldo_crypto keldo_jwt_mint keldo_jwt_verify keldo_crypto_sha256 keldo_crypto_hmac_sha256 \
            keldo_crypto_pbkdf2_sha256 keldo_crypto_base64_encode keldo_crypto_base64_decode \
            keldo_crypto_base64url_encode keldo_crypto_base64url_decode keldo_crypto_uuid_generate \
            keldo_crypto_secure_compare keldo_verify_password_hash keldo_crypto_last_error; do
  lines=$(render 3 "$page" | wc -l)
  echo "   man 3 $page: $lines lines"
done
echo "-- bash completion, found by bash-completion's loader"
"$top/tests/completion/test_completion.sh" --bash-completion | tail -n 3

echo "80-debian-package: ok"
