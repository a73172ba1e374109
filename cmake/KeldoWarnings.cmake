# Warning flags for the project's own targets.
set(KELDO_WARNING_FLAGS
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wcast-qual -Wformat=2 -Wundef -Wnull-dereference -Wdouble-promotion
    -Wimplicit-fallthrough)
if(KELDO_WERROR)
  list(APPEND KELDO_WARNING_FLAGS -Werror)
endif()

function(keldo_warnings target)
  target_compile_options(${target} PRIVATE ${KELDO_WARNING_FLAGS})
endfunction()
