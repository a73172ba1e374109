#!/usr/bin/env bash
# One version everywhere: project(VERSION) in CMakeLists.txt is the source,
# and the installed library's SONAME and file name, the pkg-config file, the
# CMake package, `keldo-crypto --version` (the tool's and the library's it
# runs) and, in the source tree, the Debian changelog, symbols file and
# runtime package name must all agree with it.
#
#   check_versions.sh SOURCE-DIR --install BUILD-DIR CONFIG LIBDIR
#       installs BUILD-DIR into a temporary prefix (LIBDIR relative to it)
#   check_versions.sh SOURCE-DIR --system LIBDIR
#       checks the system installation (the Debian packages)
set -euo pipefail
src=$1 mode=$2
shift 2

fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }
ok() { echo "ok   $*"; }
expect() { # what, got, wanted
  if [ "$2" = "$3" ]; then ok "$1: $2"; else bad "$1: '$2', expected '$3'"; fi
}

version=$(sed -n 's/^project(keldo_crypto VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
[ -n "$version" ] || { echo "no project(keldo_crypto VERSION ...) in $src/CMakeLists.txt" >&2; exit 2; }
major=${version%%.*}
echo "project(VERSION): $version"

work=$(mktemp -d "${TMPDIR:-/tmp}/keldo-versions.XXXXXX")
trap 'rm -rf "$work"' EXIT
case $mode in
  --install)
    build=$1 config=$2 libdir=$3
    prefix=$work/prefix
    cmake --install "$build" --config "$config" --prefix "$prefix" >"$work/install.log" ||
      { cat "$work/install.log" >&2; exit 1; }
    case $libdir in /*) ;; *) libdir=$prefix/$libdir ;; esac
    tool=$prefix/bin/keldo-crypto
    ;;
  --system)
    prefix=/usr libdir=$1
    tool=/usr/bin/keldo-crypto
    ;;
  *) echo "usage: see $0" >&2; exit 2 ;;
esac

# The library: SONAME from the major version, file name from the full one.
lib=$libdir/libkeldo_crypto.so.$major
[ -e "$lib" ] || bad "$lib is not installed"
soname=$(objdump -p "$lib" | awk '$1 == "SONAME" {print $2}')
expect "SONAME" "$soname" "libkeldo_crypto.so.$major"
expect "library file" "$(basename "$(realpath "$libdir/libkeldo_crypto.so")")" "libkeldo_crypto.so.$version"

expect "pkg-config --modversion" \
  "$(PKG_CONFIG_LIBDIR=$libdir/pkgconfig PKG_CONFIG_PATH='' pkg-config --modversion keldo-crypto)" "$version"

if cmake -S "$src/tests/version" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" \
     -DEXPECTED_LIBDIR="$libdir" -DEXPECTED_VERSION="$version" >"$work/cmake.log" 2>&1; then
  ok "CMake package: $(sed -n 's/^-- CMake package: //p' "$work/cmake.log")"
else
  cat "$work/cmake.log" >&2
  bad "find_package(keldo_crypto) did not give $version"
fi

# The tool names its own version and that of the library the loader gave it.
if [ -x "$tool" ]; then
  mapfile -t lines < <("$tool" --version)
  expect "keldo-crypto --version, tool" "${lines[0]:-}" "keldo-crypto $version"
  # The library's code is linked into the tool, or comes from the shared
  # library the loader gives it.
  headers=$(objdump -p "$tool")
  if grep -q "NEEDED *libkeldo_crypto\.so\.$major\$" <<<"$headers"; then
    where="$(realpath "$libdir")/libkeldo_crypto.so.$version"
  else
    where="built into the tool"
  fi
  expect "keldo-crypto --version, library" "${lines[1]:-}" "library: libkeldo_crypto $version ($where)"
else
  bad "$tool is not installed"
fi

# The manual pages name the project and its version in their header and
# footer (.Os); pages that are links to another carry none.
if [ -d "$src/man" ]; then
  pages=0 wrong=0
  while IFS= read -r page; do
    pages=$((pages + 1))
    os=$(sed -n 's/^\.Os *//p' "$page")
    [ "$os" = "keldo-crypto $version" ] ||
      { bad "${page#"$src"/}: .Os '$os', expected 'keldo-crypto $version'"; wrong=1; }
  done < <(find "$src/man" -type f -name '*.[0-9]' | sort)
  [ "$wrong" -ne 0 ] || ok "manual pages: $pages with .Os keldo-crypto $version"
fi

# The Debian packaging, when the tree has it: upstream version, symbols
# file and runtime package named after the SONAME.
if [ -f "$src/debian/changelog" ]; then
  deb_version=$(sed -n '1s/^[^ ]* (\([^)]*\)).*/\1/p' "$src/debian/changelog")
  deb_upstream=${deb_version#*:}
  expect "debian/changelog upstream version" "${deb_upstream%-*}" "$version"
  expect "debian symbols file" "$(head -n 1 "$src/debian/libkeldo-crypto$major.symbols" 2>/dev/null | cut -d' ' -f1,2)" \
    "libkeldo_crypto.so.$major libkeldo-crypto$major"
  grep -q "^Package: libkeldo-crypto$major\$" "$src/debian/control" &&
    ok "debian/control: runtime package libkeldo-crypto$major" ||
    bad "debian/control has no runtime package libkeldo-crypto$major"
fi
exit $fail
