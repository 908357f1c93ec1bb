# Runs the configure-time key conversion on one PEM file in script mode:
#   cmake -DPEM=<file> -P crypto_pubkey_check.cmake
# Prints "modulus <hex>" for a good key; a bad key ends with its FATAL_ERROR.
include(${CMAKE_CURRENT_LIST_DIR}/../../package/crypto_pubkey.cmake)
vrex_read_rsa_public_key("${PEM}" modulus)
message("modulus ${modulus}")
