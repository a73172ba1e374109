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
endif()
