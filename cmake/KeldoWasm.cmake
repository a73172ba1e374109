# The WebAssembly module, keldo_crypto.wasm: the library's objects with the
# WebAssembly platform seam (src/platform/platform_wasm.cpp) and yyjson
# compiled in, linked as a standalone module (no Emscripten JavaScript glue)
# that exports the functions of the shared library's version script, malloc
# and free. Included by the top-level CMakeLists.txt when the toolchain is
# Emscripten (cmake/toolchains/wasm32-emscripten.cmake).
#
# KELDO_YYJSON_SOURCE_DIR: an unpacked yyjson source tree (src/yyjson.c);
# scripts/cross/wasm-yyjson makes one from Debian's source package.

set(KELDO_YYJSON_SOURCE_DIR "" CACHE PATH "Unpacked yyjson source compiled into the WebAssembly module")
if(NOT EXISTS "${KELDO_YYJSON_SOURCE_DIR}/src/yyjson.c")
  message(FATAL_ERROR "KELDO_YYJSON_SOURCE_DIR must name an unpacked yyjson source "
                      "(scripts/cross/wasm-yyjson DIR makes one)")
endif()

# yyjson as a static library of our own. JSON Pointer, Patch and merge are
# not called by the library and are left out.
add_library(keldo_yyjson STATIC ${KELDO_YYJSON_SOURCE_DIR}/src/yyjson.c)
target_include_directories(keldo_yyjson SYSTEM PUBLIC $<BUILD_INTERFACE:${KELDO_YYJSON_SOURCE_DIR}/src>)
target_compile_definitions(keldo_yyjson PRIVATE YYJSON_DISABLE_UTILS=1)
add_library(yyjson::yyjson ALIAS keldo_yyjson)
# The top level looks for an installed yyjson only when no target exists.
set(CMAKE_DISABLE_FIND_PACKAGE_yyjson TRUE)
# The export set of cmake/KeldoInstall.cmake names what keldo_crypto links.
install(TARGETS keldo_yyjson EXPORT keldo_crypto_targets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})

# The names the shared library exports, read from its version script so the
# module follows every interface the script gains.
file(READ ${PROJECT_SOURCE_DIR}/src/keldo_crypto.map _keldo_map)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/keldo_crypto.map)
string(REGEX REPLACE "/\\*([^*]|\\*[^/])*\\*/" "" _keldo_map "${_keldo_map}")
string(REGEX MATCHALL "keldo_[a-z0-9_]+" _keldo_exports "${_keldo_map}")
list(REMOVE_DUPLICATES _keldo_exports)
list(TRANSFORM _keldo_exports PREPEND "_")
list(APPEND _keldo_exports _malloc _free)
list(JOIN _keldo_exports "," KELDO_WASM_EXPORTS)

function(keldo_wasm_module)
  add_executable(keldo_crypto_wasm
    $<TARGET_OBJECTS:keldo_crypto_objects>
    ${PROJECT_SOURCE_DIR}/src/platform/platform_wasm.cpp)
  target_include_directories(keldo_crypto_wasm PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(keldo_crypto_wasm PRIVATE keldo_yyjson)
  target_compile_options(keldo_crypto_wasm PRIVATE -fno-exceptions -fno-rtti)
  keldo_warnings(keldo_crypto_wasm)
  set_target_properties(keldo_crypto_wasm PROPERTIES OUTPUT_NAME keldo_crypto SUFFIX .wasm)
  # Memory: a 64 KiB stack, 1 MiB to start, grown only by a call that needs
  # more (a long PBKDF2 output); the loader frees every allocation it makes.
  # The host's two functions (platform_wasm.cpp) are imports by design, which
  # Emscripten reports as undefined symbols; the package's tests check that
  # the module imports those two and Emscripten's memory-growth notice only.
  target_link_options(keldo_crypto_wasm PRIVATE
    -sSTANDALONE_WASM=1 --no-entry
    -sEXPORTED_FUNCTIONS=${KELDO_WASM_EXPORTS}
    -sTOTAL_STACK=65536 -sINITIAL_MEMORY=1048576 -sALLOW_MEMORY_GROWTH=1
    -sMALLOC=dlmalloc -sFILESYSTEM=0
    -sERROR_ON_UNDEFINED_SYMBOLS=0 -sWARN_ON_UNDEFINED_SYMBOLS=0)
  # The shared library, the tool and the examples are for operating systems.
  foreach(t keldo_crypto)
    if(TARGET ${t})
      set_target_properties(${t} PROPERTIES EXCLUDE_FROM_ALL TRUE)
    endif()
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL keldo_wasm_module)
