# Hardening tests: hostile tokens, heap exhaustion and concurrent use.
find_package(Threads REQUIRED)

keldo_add_test(test_hostile_tokens test_hostile_tokens.cpp LIBS OpenSSL::Crypto)
# The same table with the heap counted: bounded, balanced, nothing early.
keldo_add_test(test_hostile_heap test_hostile_tokens.cpp ALLOC_COUNTING LIBS OpenSSL::Crypto)
if(TARGET test_hostile_heap)
  target_compile_definitions(test_hostile_heap PRIVATE KELDO_HOSTILE_COUNT_HEAP=1)
endif()

keldo_add_test(test_alloc_failure test_alloc_failure.cpp ALLOC_COUNTING LIBS OpenSSL::Crypto)

keldo_add_test(test_threads test_threads.cpp LIBS OpenSSL::Crypto Threads::Threads)

# The installed library and tool carry the hardening of the build.
if(KELDO_HARDENED)
  add_test(NAME hardened_binaries
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/hardening/check_hardened.sh
            ${CMAKE_COMMAND} ${PROJECT_BINARY_DIR} $<CONFIG> ${CMAKE_READELF})
endif()
