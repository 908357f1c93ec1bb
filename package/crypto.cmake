# CRC-32, SHA-256, the signature check and the compiled-in public key.
include(${CMAKE_CURRENT_LIST_DIR}/crypto_pubkey.cmake)

# The public key named by VREX_SIGNING_PUBKEY, checked and turned into a
# source file at configure time (a wrong key stops the configure).
vrex_generate_signing_key_source("${VREX_SIGNING_PUBKEY}"
  "${CMAKE_CURRENT_BINARY_DIR}/generated/crypto_signing_key.cc")

target_sources(vrex_package PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/crc32.cc
  ${CMAKE_CURRENT_LIST_DIR}/sha256.cc
  ${CMAKE_CURRENT_LIST_DIR}/sha256_portable.cc
  ${CMAKE_CURRENT_LIST_DIR}/sha256_x86.cc
  ${CMAKE_CURRENT_LIST_DIR}/signature.cc
  ${CMAKE_CURRENT_BINARY_DIR}/generated/crypto_signing_key.cc)
target_link_libraries(vrex_package PRIVATE PkgConfig::TOMCRYPT PkgConfig::TOMMATH)
