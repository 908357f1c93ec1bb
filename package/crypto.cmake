# CRC-32, SHA-256, the signature check and the compiled-in public key.
target_sources(vrex_package PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/crc32.cc
  ${CMAKE_CURRENT_LIST_DIR}/sha256.cc
  ${CMAKE_CURRENT_LIST_DIR}/sha256_portable.cc
  ${CMAKE_CURRENT_LIST_DIR}/sha256_x86.cc)
