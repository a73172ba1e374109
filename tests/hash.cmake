# SHA-256, HMAC-SHA256 and PBKDF2-HMAC-SHA256, with OpenSSL as the reference.
keldo_add_test(test_sha256 test_sha256.cpp LIBS OpenSSL::Crypto)
keldo_add_test(test_hmac test_hmac.cpp LIBS OpenSSL::Crypto)
