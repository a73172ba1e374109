# Fuzz targets. Every build compiles each one with a small replay main and
# registers a test that runs it over the committed seed corpus. With
# KELDO_BUILD_FUZZ (Clang only, in its own build directory) they are linked
# with libFuzzer instead, and the library is instrumented for coverage; pair
# it with KELDO_SANITIZE=address,undefined. scripts/ci/30-fuzz.sh drives it.
option(KELDO_BUILD_FUZZ "Build the fuzz targets with libFuzzer (Clang)" OFF)
set(KELDO_FUZZ_TARGETS base64 jwt jwt_r jwt_k hash compare password
    tool_checksum tool_base64_stream tool_json_print)
set(KELDO_FUZZ_DIR ${CMAKE_CURRENT_SOURCE_DIR}/fuzz)
# The command-line tool's parsers, compiled into their targets from the
# tool's own sources (the tool itself need not be built).
set(KELDO_TOOL_DIR ${PROJECT_SOURCE_DIR}/tools/keldo-crypto)
set(KELDO_FUZZ_EXTRA_tool_checksum ${KELDO_TOOL_DIR}/checksum.cpp)
set(KELDO_FUZZ_EXTRA_tool_base64_stream ${KELDO_TOOL_DIR}/base64_stream.cpp)
set(KELDO_FUZZ_EXTRA_tool_json_print ${KELDO_TOOL_DIR}/json_print.cpp)

if(NOT TARGET OpenSSL::Crypto)
  message(STATUS "fuzz targets: not built, OpenSSL::Crypto is not available for this target")
  return()
endif()

if(KELDO_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "KELDO_BUILD_FUZZ needs Clang's libFuzzer: configure with CC=clang CXX=clang++")
  endif()
  # Coverage feedback from the cores, not only from the targets.
  target_compile_options(keldo_crypto_objects PRIVATE -fsanitize=fuzzer-no-link)
endif()

foreach(t ${KELDO_FUZZ_TARGETS})
  if(KELDO_BUILD_FUZZ)
    add_executable(fuzz_${t} fuzz/fuzz_${t}.cpp ${KELDO_FUZZ_EXTRA_${t}})
    target_compile_options(fuzz_${t} PRIVATE -fsanitize=fuzzer)
    target_link_options(fuzz_${t} PRIVATE -fsanitize=fuzzer)
    set(replay fuzz_${t} -runs=0 ${KELDO_FUZZ_DIR}/corpus/${t})
  else()
    add_executable(fuzz_${t} fuzz/fuzz_${t}.cpp fuzz/replay_main.cpp ${KELDO_FUZZ_EXTRA_${t}})
    set(replay fuzz_${t} ${KELDO_FUZZ_DIR}/corpus/${t})
  endif()
  target_include_directories(fuzz_${t} PRIVATE ${KELDO_FUZZ_DIR} ${KELDO_TOOL_DIR})
  target_link_libraries(fuzz_${t} PRIVATE keldo_crypto_testable OpenSSL::Crypto)
  keldo_warnings(fuzz_${t})
  add_test(NAME fuzz_${t}_replay COMMAND ${replay})
endforeach()
