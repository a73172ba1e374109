# Timing check of the secret comparisons (tests/timing/timing_check.cpp):
# built with the suite, measured by scripts/ci/46-timing.sh. The suite runs
# only its smoke mode, which checks the two input classes of every function
# and takes a few samples without judging them: timing means nothing under
# sanitizers or a loaded test run.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  add_executable(keldo_timing_check timing/timing_check.cpp)
  target_link_libraries(keldo_timing_check PRIVATE keldo_crypto_testable)
  keldo_warnings(keldo_timing_check)
  add_test(NAME timing_check_smoke COMMAND keldo_timing_check --smoke)
  # Reads the cycle counter (rdtscp): tools that emulate the processor, such
  # as valgrind, leave tests with this label out.
  set_tests_properties(timing_check_smoke PROPERTIES LABELS cycle_counter)
endif()
