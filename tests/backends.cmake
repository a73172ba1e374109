# Every SHA-256 and Base64 backend the machine supports, against OpenSSL.
keldo_add_test(test_sha256_backends test_sha256_backends.cpp LIBS OpenSSL::Crypto)
keldo_add_test(test_base64_backends test_base64_backends.cpp LIBS OpenSSL::Crypto)
keldo_add_test(test_dispatch test_dispatch.cpp)
# Faulty and unrunnable backends planted in the dispatch; supplies its own
# feature probe.
keldo_add_test(test_backend_faults test_backend_faults.cpp)
# Not a test: lists the backends this machine runs for the CI stages that
# pin each in turn (scripts/ci/20-pinned-backends.sh, 25-qemu-backends.sh).
add_executable(keldo_list_backends support/list_backends.cpp)
target_link_libraries(keldo_list_backends PRIVATE keldo_crypto_testable)
keldo_warnings(keldo_list_backends)
