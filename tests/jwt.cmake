# Signed tokens: minting and verification against tokens built with OpenSSL,
# heap use, and interoperability with PyJWT through the shipped library.
keldo_add_test(test_jwt test_jwt_mint.cpp test_jwt_verify.cpp LIBS OpenSSL::Crypto)
keldo_add_test(test_jwt_alloc test_jwt_alloc.cpp ALLOC_COUNTING LIBS OpenSSL::Crypto)

# The Python host loads the shipped library with ctypes. A sanitizer build
# of the library cannot be loaded into an uninstrumented interpreter, so the
# test runs in the plain builds only.
if(NOT KELDO_SANITIZE)
  add_test(NAME jwt_pyjwt_interop
           COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/interop/pyjwt_interop.py
                   $<TARGET_FILE:keldo_crypto>)
  set_tests_properties(jwt_pyjwt_interop PROPERTIES LABELS "interop;python")
endif()
