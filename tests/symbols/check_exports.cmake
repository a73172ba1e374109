# cmake -DNM=nm -DLIBRARY=libkeldo_crypto.so -DHEADER=keldo_crypto.h
#       -DVERSION_NODE=KELDO_CRYPTO_1 -DVERSION_NODE_1_1=KELDO_CRYPTO_1.1
#       -DVERSION_NODE_1_2=KELDO_CRYPTO_1.2 -P check_exports.cmake
#
# Fails unless the library's dynamic symbol table defines exactly the
# functions that the header declares with KELDO_API, each once, each in its
# version node, and nothing else: no data, no C++ names. PENDING (comma-
# separated) names declared functions that may be missing, and must be.

cmake_policy(VERSION 3.20)

file(READ "${HEADER}" header)
# The header declares the first interface's functions, then, after the line
# that opens "Interface 1.1", the 1.1 ones, then after "Interface 1.2" the
# 1.2 ones: each goes in its own version node.
string(FIND "${header}" "Interface 1.1" split_1_1)
string(FIND "${header}" "Interface 1.2" split_1_2)
if(split_1_1 EQUAL -1 OR split_1_2 LESS split_1_1)
  message(FATAL_ERROR "no \"Interface 1.1\" and \"Interface 1.2\" sections, in that order, in ${HEADER}")
endif()
math(EXPR len_1_1 "${split_1_2} - ${split_1_1}")
string(SUBSTRING "${header}" 0 ${split_1_1} header_1)
string(SUBSTRING "${header}" ${split_1_1} ${len_1_1} header_1_1)
string(SUBSTRING "${header}" ${split_1_2} -1 header_1_2)
set(expected "")
foreach(part 1 1_1 1_2)
  string(REGEX MATCHALL "\nKELDO_API [^;(]*\\(" decls "${header_${part}}")
  set(names_${part} "")
  foreach(decl IN LISTS decls)
    string(REGEX REPLACE ".*[ *]([A-Za-z_][A-Za-z0-9_]*)\\($" "\\1" name "${decl}")
    list(APPEND names_${part} "${name}")
    list(APPEND expected "${name}")
  endforeach()
endforeach()
list(LENGTH names_1 n_1)
list(LENGTH names_1_1 n_1_1)
list(LENGTH names_1_2 n_1_2)
if(NOT n_1 EQUAL 13 OR NOT n_1_1 EQUAL 8 OR NOT n_1_2 EQUAL 4)
  message(FATAL_ERROR "expected 13 + 8 + 4 KELDO_API declarations in ${HEADER}, found "
                      "${n_1}: ${names_1}, ${n_1_1}: ${names_1_1} and ${n_1_2}: ${names_1_2}")
endif()

execute_process(COMMAND "${NM}" -D --defined-only "${LIBRARY}"
  OUTPUT_VARIABLE table RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}: ${err}")
endif()

string(REPLACE "\n" ";" lines "${table}")
set(errors "")
set(found "")
foreach(line IN LISTS lines)
  if(line STREQUAL "")
    continue()
  endif()
  # "<address> <type> <name>[@@<version>]"; the address may be missing.
  if(NOT line MATCHES "^([0-9a-fA-F]+ +)?([A-Za-z]) ([^ @]+)(@@?([^ ]+))?$")
    list(APPEND errors "unreadable line: ${line}")
    continue()
  endif()
  set(type "${CMAKE_MATCH_2}")
  set(name "${CMAKE_MATCH_3}")
  set(version "${CMAKE_MATCH_5}")
  if(type STREQUAL "A" AND (name STREQUAL VERSION_NODE OR name STREQUAL VERSION_NODE_1_1 OR
                            name STREQUAL VERSION_NODE_1_2))
    continue()  # the version definitions themselves
  endif()
  if(name MATCHES "^_Z")
    list(APPEND errors "C++ symbol exported: ${name}")
  elseif(NOT type MATCHES "^[Ti]$")
    list(APPEND errors "non-function symbol exported: ${name} (type ${type})")
  elseif(NOT name IN_LIST expected)
    list(APPEND errors "function exported that the header does not declare: ${name}")
  elseif(name IN_LIST found)
    list(APPEND errors "exported twice: ${name}")
  else()
    list(APPEND found "${name}")
    if(name IN_LIST names_1)
      set(node "${VERSION_NODE}")
    elseif(name IN_LIST names_1_1)
      set(node "${VERSION_NODE_1_1}")
    else()
      set(node "${VERSION_NODE_1_2}")
    endif()
    if(NOT version STREQUAL node)
      list(APPEND errors "${name} is not in version ${node} (got '${version}')")
    endif()
  endif()
endforeach()

string(REPLACE "," ";" pending "${PENDING}")
foreach(name IN LISTS expected)
  if(name IN_LIST pending)
    if(name IN_LIST found)
      list(APPEND errors "${name} is exported now: take it off KELDO_EXPORTS_PENDING")
    else()
      message(STATUS "not exported yet (pending): ${name}")
    endif()
  elseif(NOT name IN_LIST found)
    list(APPEND errors "declared in the header but not exported: ${name}")
  endif()
endforeach()

if(errors)
  string(REPLACE ";" "\n  " text "${errors}")
  message(FATAL_ERROR "${LIBRARY}:\n  ${text}")
endif()
list(LENGTH found n_found)
message(STATUS "${n_found} exports, all declared in keldo_crypto.h, each in its version node")
