# The version of project() reaches every place a host or a package manager
# reads one: SONAME, library file name, pkg-config, CMake package,
# keldo-crypto --version and the Debian packaging.
if(TARGET keldo-crypto AND NOT WIN32 AND NOT CMAKE_CROSSCOMPILING)
  add_test(NAME versions_agree
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/version/check_versions.sh ${PROJECT_SOURCE_DIR}
            --install ${PROJECT_BINARY_DIR} $<CONFIG> ${CMAKE_INSTALL_LIBDIR})
endif()
