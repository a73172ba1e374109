# Every SHA-256 backend the machine supports, against OpenSSL.
keldo_add_test(test_sha256_backends test_sha256_backends.cpp LIBS OpenSSL::Crypto)
