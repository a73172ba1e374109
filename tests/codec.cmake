keldo_add_test(test_base64 test_base64.cpp LIBS OpenSSL::Crypto)
keldo_add_test(test_uuid test_uuid.cpp)
keldo_add_test(test_compare test_compare.cpp)
