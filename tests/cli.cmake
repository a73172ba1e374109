# The command-line tool, driven as a user runs it: installed into a private
# prefix, then checked against coreutils, Python's hashlib and PyJWT.
if(TARGET keldo-crypto)
  set(KELDO_CLI_PREFIX ${CMAKE_CURRENT_BINARY_DIR}/cli-prefix)
  set(KELDO_CLI_WORK ${CMAKE_CURRENT_BINARY_DIR}/cli-work)
  set(KELDO_CLI_TOOL ${KELDO_CLI_PREFIX}/${CMAKE_INSTALL_BINDIR}/keldo-crypto)

  add_test(NAME cli_install
    COMMAND ${CMAKE_COMMAND} --install ${PROJECT_BINARY_DIR} --config $<CONFIG>
            --prefix ${KELDO_CLI_PREFIX})
  set_tests_properties(cli_install PROPERTIES FIXTURES_SETUP cli_installed)
  add_test(NAME cli_cleanup
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${KELDO_CLI_PREFIX} ${KELDO_CLI_WORK})
  set_tests_properties(cli_cleanup PROPERTIES FIXTURES_CLEANUP cli_installed)

  # One CTest test per area, so they run in parallel and fail by name. A
  # sanitized tool's memory is the sanitizer's: its peak is not checked.
  set(KELDO_CLI_SANITIZED "")
  if(KELDO_SANITIZE)
    set(KELDO_CLI_SANITIZED --sanitized)
  endif()
  foreach(area Sha256 Base64 Password Jwt CommandLine)
    string(TOLOWER ${area} area_lower)
    add_test(NAME cli_${area_lower}
      COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/cli/test_cli.py
              --tool ${KELDO_CLI_TOOL} --work ${KELDO_CLI_WORK}
              ${KELDO_CLI_SANITIZED} ${area}Tests)
    set_tests_properties(cli_${area_lower} PROPERTIES
      FIXTURES_REQUIRED cli_installed LABELS "cli;python" TIMEOUT 300)
  endforeach()
endif()
