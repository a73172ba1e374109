# Password-hash strings and the constant-time codec behind them, with
# OpenSSL's PBKDF2 and Base64 as the reference; Django, passlib, Werkzeug and
# hashlib as peers through the shipped library.
keldo_add_test(test_password test_password.cpp LIBS OpenSSL::Crypto)
keldo_add_test(test_base64_ct test_base64_ct.cpp LIBS OpenSSL::Crypto)

# The peers load the shipped library with ctypes: a native, uninstrumented
# build only (see jwt.cmake).
if(NOT KELDO_SANITIZE AND NOT CMAKE_CROSSCOMPILING)
  add_test(NAME password_interop
           COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/interop/password_interop.py
                   $<TARGET_FILE:keldo_crypto>)
  set_tests_properties(password_interop PROPERTIES LABELS "interop;python" TIMEOUT 300)
endif()
