# SHA-256, HMAC-SHA256 and PBKDF2-HMAC-SHA256, with OpenSSL as the reference.
keldo_add_test(test_sha256 test_sha256.cpp LIBS OpenSSL::Crypto)
keldo_add_test(test_hmac test_hmac.cpp LIBS OpenSSL::Crypto)
keldo_add_test(test_pbkdf2 test_pbkdf2.cpp LIBS OpenSSL::Crypto)
keldo_add_test(test_wycheproof_hash test_wycheproof_hash.cpp)
keldo_add_test(test_hash_heap test_hash_heap.cpp ALLOC_COUNTING)
# The wiping of working secrets, seen on the stack after each call.
# Only at Release (-O3, the suite's own build, GCC and Clang): what the scan
# finds depends on where the compiler keeps values, and at -O2 it finds words
# of keyed states and digests in stack slots still to be accounted for.
if(CMAKE_BUILD_TYPE STREQUAL "Release")
  keldo_add_test(test_wipe test_wipe.cpp LIBS OpenSSL::Crypto)
endif()
