#!/usr/bin/env bash
# The release: scripts/release builds every artifact into dist/ (reusing the
# aarch64 and Windows builds of the two cross stages before this one), then
# each is checked as a user gets it, with the commands of docs/install.md
# run as written:
#  - the wheel: its tag and file list, RUNPATH $ORIGIN and the glibc floor;
#    the same wheel made with pip wheel from a clone of the checkout;
#    installed into a fresh venv in a clean Debian 12 tree (debootstrap,
#    this machine's apt configuration, python3-venv and nothing else), where
#    a token round trip runs with neither keldo-crypto nor yyjson installed;
#  - the npm tarball: its file list, then an empty project folder installs
#    it (koffi from the registry) and runs a token round trip, with no
#    KELDO_CRYPTO_LIBRARY and the library and yyjson loaded from its
#    prebuilds; the linux-arm64 library under qemu-aarch64 from a small C
#    host, given the C library alone; the win32-x64 DLLs are those of the
#    Windows zip, which the Windows stage ran programs against under Wine;
#  - the .nupkg: its file list, then a fresh `dotnet new console` project
#    takes it with `dotnet add package`, runs and is published
#    self-contained, with the package's native library (scripts/check-nuget);
#  - the Windows zip, unpacked as written.
#   KELDO_DIST_DIR  where the artifacts go (default dist)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
dist=${KELDO_DIST_DIR:-$top/dist}
install_md=$top/docs/install.md

log() { echo "85-release: $*" >&2; }
fail() { log "FAILED: $*"; exit 1; }

[ "$(id -u)" -eq 0 ] || fail "needs root (debootstrap, mount, chroot)"
"$top/scripts/bootstrap" release python dotnet node cross fresh
command -v npm >/dev/null 2>&1 || "$top/scripts/bootstrap" node/npm
"$top/scripts/release" "$dist"

# shellcheck source=../lib/debian-tree.sh
. "$top/scripts/lib/debian-tree.sh"
work=$(mktemp -d)
root=$work/root
cleanup() {
  dt_release_all
  # Never delete through a mount left behind (a bound /dev or apt cache).
  if findmnt -rn -o TARGET | grep -q "^$work/"; then
    log "something is still mounted below $work; not removing it"
  else
    rm -rf --one-file-system "$work"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# block HEADING [N]: the Nth (default first) sh block under "## HEADING" in
# docs/install.md.
block() {
  local b
  b=$(awk -v h="## $1" -v n="${2:-1}" '$0 == h {s = 1; next} s && /^## / {exit}
        s && /^```sh/ {if (++k == n) b = 1; next} b && /^```/ {exit} b {print}' "$install_md")
  [ -n "$b" ] || fail "docs/install.md has no sh block ${2:-1} under '## $1'"
  printf '%s\n' "$b"
}
one() {  # one GLOB: the single file of dist/ that matches
  local f
  f=$(cd "$dist" && ls -- $1 2>/dev/null)
  [ "$(wc -l <<<"$f")" -eq 1 ] && [ -n "$f" ] || fail "expected one $1 in $dist, found: ${f:-none}"
  echo "$dist/$f"
}
has() {  # has LIST ENTRY...: each entry is a line of LIST
  local list=$1 e
  shift
  for e in "$@"; do grep -qxF -- "$e" <<<"$list" || fail "missing: $e"; done
}
glibc_floor() { objdump -T "$1" | grep -o 'GLIBC_[0-9.]*' | sort -uV | tail -n 1; }

version=$(sed -n 's/^project(keldo_crypto VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")

# ---- the wheel ------------------------------------------------------------------
whl=$(one 'keldo_crypto-*.whl')
echo "== $(basename "$whl")"
# The compiled module uses CPython's Limited API of 3.9: one abi3 wheel.
[[ $(basename "$whl") == keldo_crypto-$version-cp39-abi3-linux_x86_64.whl ]] || fail "wheel tag: $(basename "$whl")"
files=$(/usr/bin/python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$whl")
sed 's/^/  /' <<<"$files"
has "$files" keldo_crypto/__init__.py keldo_crypto/_ext.abi3.so keldo_crypto/_ext.pyi \
  keldo_crypto/_libs/libkeldo_crypto.so.1 keldo_crypto/_libs/libyyjson.so.0 \
  keldo_crypto/_libs/libyyjson.LICENSE.txt keldo_crypto/_libs/LICENSE.txt \
  "keldo_crypto-$version.dist-info/WHEEL"
mkdir "$work/whl"
(cd "$work/whl" && /usr/bin/python3 -m zipfile -e "$whl" .)
grep -qx 'Root-Is-Purelib: false' "$work/whl/keldo_crypto-$version.dist-info/WHEEL" || fail "the wheel is marked pure"
lib=$work/whl/keldo_crypto/_libs/libkeldo_crypto.so.1
[ "$(readelf -d "$lib" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')" = '$ORIGIN' ] || fail "RUNPATH is not \$ORIGIN"
grep -qx 'Tag: cp39-abi3-linux_x86_64' "$work/whl/keldo_crypto-$version.dist-info/WHEEL" || fail "WHEEL names another tag"
if grep -qx 'keldo_crypto/_ext.c' <<<"$files"; then fail "the wheel carries the module's source"; fi
echo "  glibc floor: libkeldo_crypto.so.1 $(glibc_floor "$lib"), libyyjson.so.0 $(glibc_floor "$work/whl/keldo_crypto/_libs/libyyjson.so.0"), _ext.abi3.so $(glibc_floor "$work/whl/keldo_crypto/_ext.abi3.so")"

# The command of docs/install.md that makes the same wheel from a checkout
# (a clone of what is committed): it builds the library with CMake.
git clone -q "$top" "$work/clone"
t=$SECONDS
(cd "$work/clone" && PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_ROOT_USER_ACTION=ignore \
  /usr/bin/python3 -m pip wheel -q --no-build-isolation --no-deps --no-index -w "$work/clone-wheel" ./bindings/python \
  >"$work/clone-wheel.log" 2>&1) || { tail -n 30 "$work/clone-wheel.log" >&2; fail "pip wheel from a checkout"; }
built=$(cd "$work/clone-wheel" && ls)
[ "$built" = "$(basename "$whl")" ] || fail "pip wheel from a checkout made $built"
built=$(/usr/bin/python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$work/clone-wheel/$built")
has "$built" keldo_crypto/_libs/libkeldo_crypto.so.1 keldo_crypto/_libs/libyyjson.so.0
echo "  pip wheel --no-build-isolation ./bindings/python in a checkout: $(basename "$whl") in $((SECONDS - t)) s"

# The clean tree: Debian 12 with this machine's apt configuration, from the
# base tree the fresh-machine stage keeps (scripts/lib/debian-tree.sh).
t=$SECONDS
dt_tree "$root"
in_tree() { dt_run "$root" "set -euo pipefail; $1"; }
in_tree "apt-get update -qq && apt-get install -y -qq --no-install-recommends python3-venv >/dev/null 2>&1"
echo "  clean Debian 12 tree with python3-venv: $((SECONDS - t)) s"
found=$(in_tree "find / -xdev -path /var/cache/apt/archives -prune -o \( -name 'libyyjson*' -o -name 'libkeldo_crypto*' \) -print")
[ -z "$found" ] || fail "the clean tree already has: $found"
mkdir -p "$root/root/release"
cp "$whl" "$top/tests/release/roundtrip.py" "$root/root/release/"
echo "  in the tree: $(block 'Python (pip)')"
in_tree "cd /root/release && $(block 'Python (pip)')" >/dev/null
in_tree "cd /root/release && .venv/bin/python roundtrip.py" | sed 's/^/  /'

# ---- the npm package ------------------------------------------------------------
tgz=$(one 'keldo-crypto-*.tgz')
echo "== $(basename "$tgz")"
files=$(tar -tzf "$tgz" | LC_ALL=C sort)
sed 's/^/  /' <<<"$files"
has "$files" package/package.json package/README.md package/LICENSE package/lib/native.js
for p in linux-x64 linux-arm64; do
  has "$files" "package/prebuilds/$p/libkeldo_crypto.so.1" "package/prebuilds/$p/libyyjson.so.0" \
    "package/prebuilds/$p/libyyjson.LICENSE.txt"
done
has "$files" package/prebuilds/win32-x64/keldo_crypto.dll package/prebuilds/win32-x64/libyyjson.dll \
  package/prebuilds/win32-x64/libyyjson.LICENSE.txt
mkdir "$work/npm" "$work/project"
tar -xzf "$tgz" -C "$work/npm"
# An empty project folder, as a user starts one; nothing of ours on the
# loader's paths.
cp "$tgz" "$work/project/"
(cd "$work/project" && npm init -y >/dev/null &&
 env -u KELDO_CRYPTO_LIBRARY -u LD_LIBRARY_PATH bash -euo pipefail -c "$(block 'Node.js (npm)')" >/dev/null &&
 cp "$top/tests/release/roundtrip.js" . &&
 env -u KELDO_CRYPTO_LIBRARY -u LD_LIBRARY_PATH node roundtrip.js) | sed 's/^/  /'
arm=$work/npm/package/prebuilds/linux-arm64
[ "$(readelf -d "$arm/libkeldo_crypto.so.1" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')" = '$ORIGIN' ] \
  || fail "linux-arm64: RUNPATH is not \$ORIGIN"
echo "  linux-arm64 glibc floor: $(glibc_floor "$arm/libkeldo_crypto.so.1")"
aarch64-linux-gnu-gcc -O2 -Wall -Wextra -Werror -o "$work/arm64_host" "$top/tests/release/arm64_host.c" -ldl
qemu-aarch64 -L /usr/aarch64-linux-gnu "$work/arm64_host" "$arm/libkeldo_crypto.so.1" | sed 's/^/  /'

# ---- the Windows zip, and the same DLLs everywhere ------------------------------
zip=$(one 'keldo-crypto-*-win64.zip')
echo "== $(basename "$zip")"
mkdir "$work/zip"
cp "$zip" "$work/zip/"
(cd "$work/zip" && bash -euo pipefail -c "$(block 'Windows (zip)')" >/dev/null)
files=$(cd "$work/zip/keldo-crypto" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
sed 's/^/  /' <<<"$files"
has "$files" bin/keldo_crypto.dll bin/libyyjson.dll include/keldo_crypto.h lib/keldo_crypto.lib LICENSE.txt

# ---- the NuGet package ------------------------------------------------------------
nupkg=$(one 'Keldo.Crypto.*.nupkg')
echo "== $(basename "$nupkg")"
files=$(/usr/bin/python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$nupkg" \
        | LC_ALL=C sort)
sed 's/^/  /' <<<"$files"
has "$files" Keldo.Crypto.nuspec lib/net8.0/Keldo.Crypto.dll lib/netstandard2.0/Keldo.Crypto.dll \
  lib/net8.0/Keldo.Crypto.xml runtimes/linux-x64/native/libkeldo_crypto.so runtimes/linux-x64/native/libyyjson.so.0 \
  runtimes/linux-arm64/native/libkeldo_crypto.so runtimes/linux-arm64/native/libyyjson.so.0 \
  runtimes/win-x64/native/keldo_crypto.dll runtimes/win-x64/native/libyyjson.dll \
  README.md LICENSE.txt yyjson-LICENSE.txt
nuspec=$(/usr/bin/python3 -c 'import sys, zipfile; print(zipfile.ZipFile(sys.argv[1]).read("Keldo.Crypto.nuspec").decode())' "$nupkg")
grep -q '<license type="expression">MIT</license>' <<<"$nuspec" || fail "the nuspec names no MIT licence"
[ -f "${nupkg%.nupkg}.snupkg" ] || fail "no symbol package beside $(basename "$nupkg")"
unpacked=$work/dotnet
mkdir "$unpacked" && (cd "$unpacked" && cmake -E tar xf "$nupkg")
# A fresh console project takes it with dotnet add package, runs, and is
# published self-contained (scripts/check-nuget, as docs/install.md says).
"$top/scripts/check-nuget" "$(dirname "$nupkg")"

# The Windows DLLs of the npm and NuGet packages are those of the zip; when
# the Windows stage made its zip from the same build, they are that one's.
same() { cmp -s "$1" "$2" || fail "$1 differs from $2"; }
for f in keldo_crypto.dll libyyjson.dll; do
  same "$work/npm/package/prebuilds/win32-x64/$f" "$work/zip/keldo-crypto/bin/$f"
  same "$unpacked/runtimes/win-x64/native/$f" "$work/zip/keldo-crypto/bin/$f"
done
tested=${KELDO_WINDOWS_BUILD_DIR:-$top/build-windows}/keldo-crypto-$version-win64.zip
if [ -f "$tested" ]; then
  mkdir "$work/tested" && (cd "$work/tested" && cmake -E tar xf "$tested")
  for f in keldo_crypto.dll libyyjson.dll; do same "$work/tested/bin/$f" "$work/zip/keldo-crypto/bin/$f"; done
  echo "  Windows DLLs identical in the zip, the npm and NuGet packages and the Windows stage's zip"
else
  echo "  Windows DLLs identical in the zip and the npm and NuGet packages (no zip of the Windows stage to compare)"
fi
echo "85-release: every artifact checked"
