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

configure_file(${PROJECT_SOURCE_DIR}/cmake/keldo-crypto.pc.in
  ${PROJECT_BINARY_DIR}/keldo-crypto.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/keldo-crypto.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
