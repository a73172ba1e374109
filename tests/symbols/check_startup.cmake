# cmake -DREADELF=readelf -DLIBRARY=libkeldo_crypto.so -DREFERENCE=libempty.so
#       -DOBJECTS="a.o|b.o" -DSANITIZED=0|1 -P check_startup.cmake
#
# Nothing of the library's own may run at load or unload: no static object
# with a constructor or destructor, no constructor/destructor attribute.
# Each of those leaves a section in its object file, so
#  1. no object of the library may hold an .init_array, .fini_array,
#     .preinit_array, .ctors or .dtors section, and
#  2. the linked library may hold no more such entries than an empty library
#     linked by the same toolchain (the C runtime's own), which also covers
#     anything linked in from elsewhere.
# Sanitizers register their module constructors with priorities 0 to 100,
# which are reserved for the implementation; a sanitized build accepts those
# in the objects and skips the comparison of the linked libraries.

cmake_policy(VERSION 3.20)

set(startup_section "^\\.(init_array|fini_array|preinit_array|ctors|dtors)(\\.([0-9]+))?$")

# Prints the names and sizes of the start-up sections of an ELF file.
function(startup_sections file out_var)
  execute_process(COMMAND "${READELF}" -SW "${file}"
    OUTPUT_VARIABLE text RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${READELF} failed on ${file}: ${err}")
  endif()
  string(REPLACE "\n" ";" lines "${text}")
  set(found "")
  foreach(line IN LISTS lines)
    # "  [NN] <name> <type> <address> <offset> <size> ..."
    if(line MATCHES "^ *\\[ *[0-9]+\\] +([^ ]+) +[A-Z_]+ +[0-9a-f]+ +[0-9a-f]+ +([0-9a-f]+) ")
      set(name "${CMAKE_MATCH_1}")
      set(size "${CMAKE_MATCH_2}")
      if(name MATCHES "${startup_section}")
        list(APPEND found "${name}=${size}")
      endif()
    endif()
  endforeach()
  set(${out_var} "${found}" PARENT_SCOPE)
endfunction()

set(errors "")
string(REPLACE "|" ";" objects "${OBJECTS}")
list(LENGTH objects n_objects)
if(n_objects EQUAL 0)
  message(FATAL_ERROR "no object files given")
endif()
foreach(obj IN LISTS objects)
  startup_sections("${obj}" sections)
  foreach(entry IN LISTS sections)
    string(REGEX REPLACE "=.*" "" name "${entry}")
    string(REGEX MATCH "${startup_section}" unused "${name}")
    set(priority "${CMAKE_MATCH_3}")
    if(SANITIZED AND NOT priority STREQUAL "" AND priority LESS_EQUAL 100)
      continue()
    endif()
    get_filename_component(base "${obj}" NAME)
    list(APPEND errors "${base} has a ${name} section: code that runs at load or unload")
  endforeach()
endforeach()

if(NOT SANITIZED)
  startup_sections("${LIBRARY}" lib_sections)
  startup_sections("${REFERENCE}" ref_sections)
  if(NOT lib_sections STREQUAL ref_sections)
    string(REPLACE ";" ", " lib_text "${lib_sections}")
    string(REPLACE ";" ", " ref_text "${ref_sections}")
    list(APPEND errors "start-up sections differ from an empty library's: ${lib_text} against ${ref_text}")
  endif()
endif()

if(errors)
  string(REPLACE ";" "\n  " text "${errors}")
  message(FATAL_ERROR "\n  ${text}")
endif()
if(SANITIZED)
  message(STATUS "${n_objects} objects checked; sanitizer constructors accepted, linked library not compared")
else()
  message(STATUS "${n_objects} objects checked; start-up sections equal to an empty library's")
endif()
