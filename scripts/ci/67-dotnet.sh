#!/usr/bin/env bash
# The .NET binding (bindings/dotnet) with the .NET SDK, against the library
# of this CI run:
#  - dotnet build of the solution (Keldo.Crypto for net8.0 and
#    netstandard2.0, Keldo.Crypto.AspNetCore, the tests, the probe and the
#    benchmark) with warnings as errors, and the trimming and native AOT
#    analyzers on the net8.0 libraries: the log must show no warning;
#  - dotnet test: the binding's xunit tests (.NET's own SHA256,
#    HMACSHA256, Rfc2898DeriveBytes and Convert, and
#    Microsoft.IdentityModel.JsonWebTokens as oracles) and the ASP.NET Core
#    ones (the handler against JwtBearer over HTTP on 127.0.0.1, the
#    password hasher against Identity's through UserManager);
#  - the probe program in processes of its own: the netstandard2.0
#    assembly under .NET, loading the file KELDO_CRYPTO_LIBRARY names, and
#    the error that names what was tried when no library can be found;
#  - the benchmarks run briefly (--quick), to show they still run.
# The NuGet package itself, from a fresh `dotnet new console` project, is
# checked by the release stage (scripts/check-nuget), which builds the
# package's three platforms.
#   KELDO_BUILD_DIR  build directory holding src/libkeldo_crypto.so.1 (default build-test)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${KELDO_BUILD_DIR:-$top/build-test}
fail() { echo "67-dotnet: FAILED: $*" >&2; exit 1; }

"$top/scripts/bootstrap" test dotnet
command -v dotnet >/dev/null || fail "the .NET SDK (dotnet) is missing"
[ -f "$build/CMakeCache.txt" ] || cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELDO_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target keldo_crypto >/dev/null
lib="$build/src/libkeldo_crypto.so.1"
[ -f "$lib" ] || fail "$lib was not built"

export DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1 DOTNET_SKIP_FIRST_TIME_EXPERIENCE=1
unset KELDO_CRYPTO_LIBRARY
sln=$top/bindings/dotnet/Keldo.Crypto.slnx
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
props=(-c Release -p:KeldoNativeBuild="$build")

start=$SECONDS
dotnet build "$sln" "${props[@]}" -warnaserror -clp:Summary >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "dotnet build"; }
grep -q '^ *0 Warning(s)' "$work/build.log" || { cat "$work/build.log"; fail "dotnet build printed warnings"; }
grep -q '^ *0 Error(s)' "$work/build.log" || { cat "$work/build.log"; fail "dotnet build printed errors"; }
echo "67-dotnet: dotnet build: 0 warnings, 0 errors ($((SECONDS - start)) s)"

dotnet test "$sln" "${props[@]}" --no-build 2>&1 | tee "$work/test.log" | grep -E '^(Passed|Failed)!|error' || true
grep -q '^Failed!' "$work/test.log" && fail "dotnet test"
passed=$(sed -n 's/^Passed! .* Passed: *\([0-9]*\),.*/\1/p' "$work/test.log" | awk '{n += $1} END {print n + 0}')
[ "${passed:-0}" -gt 0 ] || { cat "$work/test.log"; fail "dotnet test ran no test"; }

probe=$top/build-dotnet/bin/Keldo.Crypto.Probe/Release/net10.0
dotnet build "$top/bindings/dotnet/tests/Keldo.Crypto.Probe" -c Release -p:KeldoProbeAsset=netstandard2.0 \
  -o "$work/probe-ns" -warnaserror >"$work/probe.log" 2>&1 || { cat "$work/probe.log"; fail "the netstandard2.0 probe does not build"; }
probes=0
expect() {  # expect WANT COMMAND...: the command prints WANT's line
  local want=$1 got
  shift
  got=$("$@" 2>&1) || true
  [[ "$got" == $want ]] || fail "$*: printed '$got', want '$want'"
  echo "  $got" | cut -c1-160
  probes=$((probes + 1))
}
expect '.NETStandard,Version=v2.0: probe p@x True' env KELDO_CRYPTO_LIBRARY="$lib" dotnet "$work/probe-ns/Keldo.Crypto.Probe.dll"
expect '.NETCoreApp,Version=v8.0: probe p@x True' env KELDO_CRYPTO_LIBRARY="$lib" dotnet "$probe/Keldo.Crypto.Probe.dll"
expect '.NETCoreApp,Version=v8.0: KeldoLibraryNotFoundException: keldo-crypto: no such file: /nonexistent/libkeldo_crypto.so.1 (named by KELDO_CRYPTO_LIBRARY)' \
  env KELDO_CRYPTO_LIBRARY=/nonexistent/libkeldo_crypto.so.1 dotnet "$probe/Keldo.Crypto.Probe.dll"
# With nothing to find (the probe's output holds no library, the system none):
if ! ldconfig -p | grep -q libkeldo_crypto.so.1; then
  expect '.NETCoreApp,Version=v8.0: KeldoLibraryNotFoundException: keldo-crypto: cannot load the native library.*KELDO_CRYPTO_LIBRARY*Tried: keldo_crypto (the runtime*runtimes/linux-x64/native/*libkeldo_crypto.so.1 (the system loader*' \
    dotnet "$probe/Keldo.Crypto.Probe.dll"
  expect '.NETStandard,Version=v2.0: KeldoLibraryNotFoundException: keldo-crypto: cannot load the native library.*' \
    dotnet "$work/probe-ns/Keldo.Crypto.Probe.dll"
fi

start=$SECONDS
(cd "$work" && dotnet "$top/build-dotnet/bin/Keldo.Crypto.Bench/Release/net10.0/Keldo.Crypto.Bench.dll" --quick --filter '*' \
   >"$work/bench.log" 2>&1) || { tail -50 "$work/bench.log"; fail "the benchmarks do not run"; }
echo "67-dotnet: benchmarks ran briefly ($((SECONDS - start)) s; times not measurements)"
echo "67-dotnet: $probes probes passed against $lib"
echo "dotnet: $passed passed, 0 failed"
