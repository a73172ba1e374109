# Every SHA-256 and Base64 backend the machine supports, against OpenSSL.
keldo_add_test(test_sha256_backends test_sha256_backends.cpp LIBS OpenSSL::Crypto)
keldo_add_test(test_base64_backends test_base64_backends.cpp LIBS OpenSSL::Crypto)
keldo_add_test(test_dispatch test_dispatch.cpp)
