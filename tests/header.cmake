# The public header on its own, as strict C and C++: it must compile first in
# a translation unit, twice over, with every warning an error, and its C++
# declarations must have C linkage (header_cxx links against the library).
set(KELDO_HEADER_WARNINGS -Wall -Wextra -Wpedantic -Werror -Wshadow -Wundef
    -Wconversion -Wsign-conversion -Wcast-qual -Wredundant-decls)
set(KELDO_HEADER_C_WARNINGS ${KELDO_HEADER_WARNINGS} -Wstrict-prototypes
    -Wmissing-prototypes -Wold-style-definition)
set(KELDO_HEADER_CXX_WARNINGS ${KELDO_HEADER_WARNINGS} -Wold-style-cast
    -Wzero-as-null-pointer-constant)

if(CMAKE_C_COMPILER_ID MATCHES "GNU|Clang")
  foreach(std c99 c11)
    add_test(NAME header_${std}
      COMMAND ${CMAKE_C_COMPILER} -std=${std} ${KELDO_HEADER_C_WARNINGS}
              -I${PROJECT_SOURCE_DIR}/include -fsyntax-only
              ${CMAKE_CURRENT_SOURCE_DIR}/header_c.c)
  endforeach()
endif()

add_executable(header_cxx header_cpp.cpp)
target_link_libraries(header_cxx PRIVATE keldo_crypto)
set_target_properties(header_cxx PROPERTIES CXX_STANDARD 11 CXX_EXTENSIONS OFF)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  target_compile_options(header_cxx PRIVATE ${KELDO_HEADER_CXX_WARNINGS})
endif()
add_test(NAME header_cxx COMMAND header_cxx)
