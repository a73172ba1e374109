# Password-hash strings and the constant-time codec behind them, with
# OpenSSL's PBKDF2 and Base64 as the reference; Django, passlib, Werkzeug and
# hashlib as peers through the shipped library.
keldo_add_test(test_password test_password.cpp LIBS OpenSSL::Crypto)
keldo_add_test(test_base64_ct test_base64_ct.cpp LIBS OpenSSL::Crypto)
if(TARGET test_base64_ct)
  target_include_directories(test_base64_ct PRIVATE ${PROJECT_SOURCE_DIR}/src/codec)
endif()
