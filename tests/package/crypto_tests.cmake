# CRC-32, SHA-256 and signature tests with the standard vectors.
vrex_add_test(package_crypto_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/crypto_crc32_test.cc
    ${CMAKE_CURRENT_LIST_DIR}/crypto_sha256_test.cc
    ${CMAKE_CURRENT_LIST_DIR}/crypto_wycheproof_test.cc
  LIBS vrex_package nlohmann_json::nlohmann_json)
