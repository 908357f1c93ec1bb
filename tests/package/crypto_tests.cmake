# CRC-32, SHA-256 and signature tests with the standard vectors.
vrex_add_test(package_crypto_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/crypto_crc32_test.cc
    ${CMAKE_CURRENT_LIST_DIR}/crypto_sha256_test.cc
    ${CMAKE_CURRENT_LIST_DIR}/crypto_wycheproof_test.cc
    ${CMAKE_CURRENT_LIST_DIR}/crypto_signing_test.cc
  LIBS vrex_package vrex_signing nlohmann_json::nlohmann_json PkgConfig::TOMCRYPT PkgConfig::TOMMATH)
target_compile_definitions(package_crypto_tests PRIVATE
  VREX_SIGNING_PUBKEY="${VREX_SIGNING_PUBKEY}")

# The configure-time key conversion, run in script mode on good and bad keys:
# each bad key must stop it with a message that says what is wrong.
set(_crypto_keys ${CMAKE_SOURCE_DIR}/tests/package/crypto_keys)
set(_crypto_key_cases
  "good|${CMAKE_SOURCE_DIR}/keys/development.pub.pem|modulus b75208ebdd0cee53"
  "private|${CMAKE_SOURCE_DIR}/keys/development.key.pem|holds a private key"
  "pkcs1_public|${_crypto_keys}/development_pkcs1.pub.pem|not \"PUBLIC KEY\""
  "rsa1024|${_crypto_keys}/rsa1024.pub.pem|RSA-1024, not RSA-2048"
  "rsa2047|${_crypto_keys}/rsa2047.pub.pem|RSA-2047, not RSA-2048"
  "exponent3|${_crypto_keys}/rsa2048_e3.pub.pem|public exponent is 0x03"
  "ec|${_crypto_keys}/ec_p256.pub.pem|not an RSA key"
  "truncated|${_crypto_keys}/truncated.pub.pem|runs past the end"
  "garbage|${_crypto_keys}/not_a_key.pem|no PEM"
  "missing|${_crypto_keys}/missing.pem|does not exist")
foreach(_case ${_crypto_key_cases})
  string(REPLACE "|" ";" _parts "${_case}")
  list(GET _parts 0 _name)
  list(GET _parts 1 _pem)
  list(GET _parts 2 _expect)
  # CMake wraps long messages at spaces.
  string(REPLACE " " "[ \n]+" _expect "${_expect}")
  add_test(NAME package_crypto_pubkey_${_name}
    COMMAND ${CMAKE_COMMAND} -DPEM=${_pem} -P ${CMAKE_CURRENT_LIST_DIR}/crypto_pubkey_check.cmake)
  set_tests_properties(package_crypto_pubkey_${_name} PROPERTIES PASS_REGULAR_EXPRESSION "${_expect}")
endforeach()
