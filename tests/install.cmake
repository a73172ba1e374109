# cmake --install into a temporary prefix, then a C program built against the
# installation through find_package and through pkg-config.
set(KELDO_CONSUMER_CFLAGS "")
if(KELDO_SANITIZE)
  set(KELDO_CONSUMER_CFLAGS "-fsanitize=${KELDO_SANITIZE} -fno-sanitize-recover=all")
endif()
add_test(NAME install_and_consume
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/consumer/run.sh
          ${PROJECT_BINARY_DIR} $<CONFIG> ${CMAKE_INSTALL_LIBDIR}
          ${CMAKE_COMMAND} ${CMAKE_C_COMPILER} "${KELDO_CONSUMER_CFLAGS}")
