# WebAssembly (wasm32) with Debian's Emscripten (package emscripten): the
# standalone module bindings/node loads where no native library fits.
#
#   scripts/cross/wasm-yyjson build-wasm/yyjson
#   cmake -S . -B build-wasm -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/wasm32-emscripten.cmake \
#     -DKELDO_YYJSON_SOURCE_DIR=build-wasm/yyjson/src-tree
#   cmake --build build-wasm -j2 --target keldo_crypto_wasm   # build-wasm/keldo_crypto.wasm
#
# The portable SHA-256 and Base64 backends are the only ones built: the
# processor checks in src/CMakeLists.txt match no wasm32 processor.
find_program(KELDO_EMCC emcc REQUIRED)
get_filename_component(_keldo_emcc "${KELDO_EMCC}" REALPATH)
get_filename_component(_keldo_emscripten "${_keldo_emcc}" DIRECTORY)
include(${_keldo_emscripten}/cmake/Modules/Platform/Emscripten.cmake)

# Nothing of an operating system's: no test programs (GoogleTest and OpenSSL
# are native), tool or examples, and no ELF hardening flags (RELRO and a
# stack protector have no meaning in a module whose memory the host owns).
set(KELDO_BUILD_TESTS OFF CACHE BOOL "")
set(KELDO_BUILD_EXAMPLES OFF CACHE BOOL "")
set(KELDO_BUILD_TOOLS OFF CACHE BOOL "")
set(KELDO_HARDENING OFF CACHE BOOL "")
set(CMAKE_BUILD_TYPE Release CACHE STRING "")
