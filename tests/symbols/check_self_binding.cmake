# cmake -DREADELF=readelf -DLIBRARY=libkeldo_crypto.so -P check_self_binding.cmake
#
# Fails when the library reaches one of its own exports through a dynamic
# relocation (a PLT slot or GOT entry): such a call could be redirected by a
# host that defines a function of the same name. Token verification relies on
# its constant-time comparison being the library's own.

cmake_policy(VERSION 3.20)

execute_process(COMMAND "${READELF}" -r --wide "${LIBRARY}"
  OUTPUT_VARIABLE relocations RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${READELF} failed on ${LIBRARY}: ${err}")
endif()
string(REGEX MATCHALL "[^\n]*(keldo_crypto_|keldo_jwt_|keldo_verify_)[^\n]*" hits "${relocations}")
if(hits)
  string(REPLACE ";" "\n  " text "${hits}")
  message(FATAL_ERROR "${LIBRARY} binds its own exports dynamically:\n  ${text}")
endif()
message(STATUS "no dynamic relocation refers to an export")
