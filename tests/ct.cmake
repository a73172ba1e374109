# Constant-time check: with KELDO_CT_CHECK the library's secret and
# declassify hooks (src/platform/ct_check.h) become memcheck client requests, and the
# check program runs under valgrind, which reports any branch or memory
# index that depends on a secret. Build it at the release optimisation
# level: the machine code is what is checked. scripts/ci/45-ctgrind.sh
# drives it.
option(KELDO_CT_CHECK "Mark secrets for valgrind's memcheck (constant-time check build)" OFF)

if(KELDO_CT_CHECK)
  if(KELDO_SANITIZE)
    message(FATAL_ERROR "KELDO_CT_CHECK runs under valgrind: build it without sanitizers")
  endif()
  find_program(KELDO_VALGRIND valgrind REQUIRED)
  target_compile_definitions(keldo_crypto_objects PUBLIC KELDO_CT_CHECK=1)

  set(KELDO_CT_MEMCHECK ${KELDO_VALGRIND} --tool=memcheck --error-exitcode=1
      --track-origins=yes --leak-check=no
      --suppressions=${CMAKE_CURRENT_SOURCE_DIR}/ct/ct_check.supp)

  add_executable(ct_check ct/ct_check.cpp)
  target_link_libraries(ct_check PRIVATE keldo_crypto_testable OpenSSL::Crypto)
  target_compile_definitions(ct_check PRIVATE KELDO_CT_CHECK=1)
  keldo_warnings(ct_check)
  add_test(NAME ct_check COMMAND ${KELDO_CT_MEMCHECK} $<TARGET_FILE:ct_check>)
  set_tests_properties(ct_check PROPERTIES LABELS ct)

  # The checker checks itself: each planted fault must be reported.
  add_executable(ct_canary ct/ct_canary.cpp)
  target_include_directories(ct_canary PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(ct_canary PRIVATE keldo_crypto_testable)
  target_compile_definitions(ct_canary PRIVATE KELDO_CT_CHECK=1)
  keldo_warnings(ct_canary)
  add_test(NAME ct_canary_early_exit
           COMMAND ${KELDO_CT_MEMCHECK} $<TARGET_FILE:ct_canary> early-exit)
  add_test(NAME ct_canary_table_index
           COMMAND ${KELDO_CT_MEMCHECK} $<TARGET_FILE:ct_canary> table-index)
  add_test(NAME ct_canary_table_base64
           COMMAND ${KELDO_CT_MEMCHECK} $<TARGET_FILE:ct_canary> table-base64)
  set_tests_properties(ct_canary_early_exit PROPERTIES LABELS ct
    PASS_REGULAR_EXPRESSION "Conditional jump or move depends on uninitialised value[^\n]*\n[^\n]*early_exit_compare")
  set_tests_properties(ct_canary_table_index PROPERTIES LABELS ct
    PASS_REGULAR_EXPRESSION "Use of uninitialised value of size [0-9]+\n[^\n]*table_lookup")
  set_tests_properties(ct_canary_table_base64 PROPERTIES LABELS ct
    PASS_REGULAR_EXPRESSION "Use of uninitialised value of size [0-9]+\n[^\n]*base64_encode")
endif()
