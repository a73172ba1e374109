# The shipped library's binary interface: exactly the header's functions are
# exported, and nothing of the library's own runs when it is loaded or
# unloaded.
if(WIN32)
  # A DLL: its export table, read with the toolchain's objdump.
  add_test(NAME exported_symbols
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/cross/check-dll-exports
            $<TARGET_FILE:keldo_crypto> ${PROJECT_SOURCE_DIR}/include/keldo_crypto.h
            ${CMAKE_OBJDUMP})
  # The version resource, read back from the DLL.
  add_test(NAME version_resource
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/cross/check-dll-version
            $<TARGET_FILE:keldo_crypto> ${PROJECT_VERSION} ${CMAKE_RC_COMPILER})
  return()
endif()

# Declared in the header but not exported yet (none now); the check fails
# once a listed function is exported, so the list cannot go stale.
set(KELDO_EXPORTS_PENDING "")
string(REPLACE ";" "," KELDO_EXPORTS_PENDING "${KELDO_EXPORTS_PENDING}")

add_test(NAME exported_symbols
  COMMAND ${CMAKE_COMMAND}
          -DNM=${CMAKE_NM}
          -DLIBRARY=$<TARGET_FILE:keldo_crypto>
          -DHEADER=${PROJECT_SOURCE_DIR}/include/keldo_crypto.h
          -DVERSION_NODE=KELDO_CRYPTO_1
          -DVERSION_NODE_1_1=KELDO_CRYPTO_1.1
          -DVERSION_NODE_1_2=KELDO_CRYPTO_1.2
          "-DPENDING=${KELDO_EXPORTS_PENDING}"
          -P ${CMAKE_CURRENT_SOURCE_DIR}/symbols/check_exports.cmake)
add_test(NAME exports_bound_inside
  COMMAND ${CMAKE_COMMAND}
          -DREADELF=${CMAKE_READELF}
          -DLIBRARY=$<TARGET_FILE:keldo_crypto>
          -P ${CMAKE_CURRENT_SOURCE_DIR}/symbols/check_self_binding.cmake)

# An empty shared library linked by the same toolchain: whatever start-up
# code the C runtime adds to every library shows up in it as well.
add_library(keldo_empty_shared SHARED symbols/empty.cpp)
set_target_properties(keldo_empty_shared PROPERTIES
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/empty)

if(KELDO_SANITIZE)
  set(KELDO_SANITIZED 1)
else()
  set(KELDO_SANITIZED 0)
endif()
add_test(NAME no_load_time_code
  COMMAND ${CMAKE_COMMAND}
          -DREADELF=${CMAKE_READELF}
          -DLIBRARY=$<TARGET_FILE:keldo_crypto>
          -DREFERENCE=$<TARGET_FILE:keldo_empty_shared>
          "-DOBJECTS=$<JOIN:$<TARGET_OBJECTS:keldo_crypto_objects>,|>|$<JOIN:$<TARGET_OBJECTS:keldo_crypto>,|>"
          -DSANITIZED=${KELDO_SANITIZED}
          -P ${CMAKE_CURRENT_SOURCE_DIR}/symbols/check_startup.cmake)
