#!/usr/bin/env bash
# The .NET binding (bindings/dotnet): KeldoCrypto.cs and its test program
# built with Mono's C# compiler (warnings as errors) and run under mono
# against the library of this CI run, three times: bound through
# KELDO_CRYPTO_LIBRARY (dlopen/dlsym); through DllImport("keldo_crypto") and
# the system loader's search (LD_LIBRARY_PATH); and with only
# libkeldo_crypto.so.1 in the search path, as the runtime package installs
# it (no libkeldo_crypto.so link), once with KeldoCrypto.dll.config's dllmap
# beside the program and once without. Then a short benchmark run. Builds
# into a temporary folder, removed on every exit.
#   KELDO_BUILD_DIR  build directory holding src/libkeldo_crypto.so (default build-test)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${KELDO_BUILD_DIR:-$top/build-test}

"$top/scripts/bootstrap" test dotnet
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELDO_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target keldo_crypto
lib="$build/src/libkeldo_crypto.so"
[ -f "$lib" ] || { echo "67-dotnet: $lib was not built" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
src="$top/bindings/dotnet"
mcs -warnaserror -warn:4 -nologo -target:library -out:"$work/KeldoCrypto.dll" "$src/KeldoCrypto.cs"
mcs -warnaserror -warn:4 -nologo -out:"$work/KeldoCryptoTests.exe" "$src/KeldoCryptoTests.cs" "$src/KeldoCrypto.cs"
mcs -warnaserror -warn:4 -nologo -out:"$work/KeldoCryptoBench.exe" "$src/KeldoCryptoBench.cs" "$src/KeldoCrypto.cs"

echo "bound through KELDO_CRYPTO_LIBRARY:"
KELDO_CRYPTO_LIBRARY=$lib mono "$work/KeldoCryptoTests.exe"
echo "bound through DllImport and the system loader:"
env -u KELDO_CRYPTO_LIBRARY LD_LIBRARY_PATH="$build/src${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
  mono "$work/KeldoCryptoTests.exe"
echo "bound with only libkeldo_crypto.so.1 (the runtime package's file):"
mkdir "$work/runtime"
cp -L "$build/src/libkeldo_crypto.so.1" "$work/runtime/"
env -u KELDO_CRYPTO_LIBRARY LD_LIBRARY_PATH="$work/runtime${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
  mono "$work/KeldoCryptoTests.exe"
echo "the same through KeldoCrypto.dll.config's dllmap:"
cp "$src/KeldoCrypto.dll.config" "$work/KeldoCryptoTests.exe.config"
env -u KELDO_CRYPTO_LIBRARY LD_LIBRARY_PATH="$work/runtime${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
  mono "$work/KeldoCryptoTests.exe"
rm "$work/KeldoCryptoTests.exe.config"
KELDO_CRYPTO_LIBRARY=$lib mono "$work/KeldoCryptoBench.exe" quick
echo "67-dotnet: .NET binding tests passed against $lib"
