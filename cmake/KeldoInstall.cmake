# Installs the header, the library, a CMake package and a pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS keldo_crypto EXPORT keldo_crypto_targets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/keldo_crypto.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(KELDO_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/keldo_crypto)
install(EXPORT keldo_crypto_targets
  NAMESPACE keldo_crypto::
  FILE keldo_crypto-targets.cmake
  DESTINATION ${KELDO_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/keldo_crypto-config.cmake.in
  ${PROJECT_BINARY_DIR}/keldo_crypto-config.cmake
  INSTALL_DESTINATION ${KELDO_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/keldo_crypto-config-version.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/keldo_crypto-config.cmake
              ${PROJECT_BINARY_DIR}/keldo_crypto-config-version.cmake
  DESTINATION ${KELDO_CMAKE_DIR})

# The pkg-config file is written at install time: it must name the prefix
# the files really go to, and `cmake --install --prefix` may choose another
# one than the configured CMAKE_INSTALL_PREFIX.
install(CODE "
  set(KELDO_PC_TEMPLATE \"${PROJECT_SOURCE_DIR}/cmake/keldo-crypto.pc.in\")
  set(KELDO_PC_STAGING \"${PROJECT_BINARY_DIR}/pkgconfig\")
  set(KELDO_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(KELDO_PC_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(KELDO_PC_VERSION \"${PROJECT_VERSION}\")
")
install(CODE [[
  set(KELDO_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(KELDO_PC_DEST "${KELDO_PC_LIBDIR}/pkgconfig")
  foreach(var KELDO_PC_LIBDIR KELDO_PC_INCLUDEDIR)
    if(NOT IS_ABSOLUTE "${${var}}")
      set(${var} "\${prefix}/${${var}}")
    endif()
  endforeach()
  if(NOT IS_ABSOLUTE "${KELDO_PC_DEST}")
    set(KELDO_PC_DEST "${CMAKE_INSTALL_PREFIX}/${KELDO_PC_DEST}")
  endif()
  # One staging file per destination: installations into different
  # prefixes may run at the same time.
  string(MD5 KELDO_PC_KEY "$ENV{DESTDIR}${KELDO_PC_DEST}")
  set(KELDO_PC_STAGED "${KELDO_PC_STAGING}/${KELDO_PC_KEY}/keldo-crypto.pc")
  configure_file("${KELDO_PC_TEMPLATE}" "${KELDO_PC_STAGED}" @ONLY)
  file(INSTALL DESTINATION "${KELDO_PC_DEST}" TYPE FILE FILES "${KELDO_PC_STAGED}")
  file(REMOVE_RECURSE "${KELDO_PC_STAGING}/${KELDO_PC_KEY}")
]])
