# The bash completion of keldo-crypto, driven as readline drives it.
if(TARGET keldo-crypto)
  find_program(KELDO_BASH bash)
  if(KELDO_BASH)
    add_test(NAME bash_completion
      COMMAND ${KELDO_BASH} ${CMAKE_CURRENT_SOURCE_DIR}/completion/test_completion.sh
              ${PROJECT_SOURCE_DIR}/tools/keldo-crypto/keldo-crypto.bash)
  endif()
endif()
