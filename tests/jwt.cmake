# Signed tokens: minting and verification against tokens built with OpenSSL,
# heap use, and interoperability with PyJWT through the shipped library.
keldo_add_test(test_jwt test_jwt_mint.cpp test_jwt_verify.cpp LIBS OpenSSL::Crypto)
keldo_add_test(test_jwt_alloc test_jwt_alloc.cpp ALLOC_COUNTING LIBS OpenSSL::Crypto)
if(TARGET test_jwt_alloc)
  # Counts malloc itself: a run under valgrind, which replaces malloc, skips it.
  set_tests_properties(test_jwt_alloc PROPERTIES LABELS "alloc_counting")
endif()

# The host interpreter loads the shipped library with ctypes, so the library
# must be a native, uninstrumented build (a sanitizer runtime cannot be
# loaded into an uninstrumented interpreter).
if(NOT KELDO_SANITIZE AND NOT CMAKE_CROSSCOMPILING)
  add_test(NAME jwt_pyjwt_interop
           COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/interop/pyjwt_interop.py
                   $<TARGET_FILE:keldo_crypto>)
  set_tests_properties(jwt_pyjwt_interop PROPERTIES LABELS "interop;python")
  # The reentrant functions: keys holding NUL bytes, every status.
  add_test(NAME jwt_pyjwt_interop_r
           COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/interop/pyjwt_interop_r.py
                   $<TARGET_FILE:keldo_crypto>)
  set_tests_properties(jwt_pyjwt_interop_r PROPERTIES LABELS "interop;python")
endif()

# The reentrant token functions, against the thirteen and OpenSSL.
keldo_add_test(test_jwt_r test_jwt_r.cpp LIBS OpenSSL::Crypto)

# Prepared keys and key rings, against OpenSSL and the one-secret functions.
keldo_add_test(test_jwt_keys test_jwt_keys.cpp LIBS OpenSSL::Crypto)

# Sixteen threads minting and verifying through the reentrant functions of
# the shipped library, as a C host would: no token may cross threads. Also
# run under ThreadSanitizer by scripts/ci/60-tsan.sh. POSIX threads: not in
# the Windows build.
if(NOT WIN32)
  find_package(Threads REQUIRED)
  add_executable(jwt_threads_r threads/jwt_threads_r.c)
  target_link_libraries(jwt_threads_r PRIVATE keldo_crypto Threads::Threads)
  keldo_warnings(jwt_threads_r)
  add_test(NAME jwt_threads_r COMMAND jwt_threads_r 500)
  # Sixteen threads sharing one key ring, rotated between runs.
  add_executable(jwt_threads_ring threads/jwt_threads_ring.c)
  target_link_libraries(jwt_threads_ring PRIVATE keldo_crypto Threads::Threads)
  keldo_warnings(jwt_threads_ring)
  add_test(NAME jwt_threads_ring COMMAND jwt_threads_ring 300)
endif()
