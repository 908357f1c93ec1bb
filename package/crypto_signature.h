// crypto_signature.h: the RSA signature check with an explicit key, and the
// compiled-in key. Internal to the package subsystem; signature_verify in
// package.h is the interface for everything else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

constexpr size_t kRsaModulusBytes = 256;  // RSA-2048

// The key that package images must be signed with, generated at configure
// time from the PEM file named by VREX_SIGNING_PUBKEY. Most significant byte
// first.
extern const uint8_t kSigningKeyModulus[kRsaModulusBytes];
extern const uint8_t kSigningKeyExponent[3];

// An RSA public key as unsigned big-endian byte strings (leading zero bytes
// are allowed and ignored).
struct RsaPublicKeyBytes {
  std::span<const uint8_t> modulus;
  std::span<const uint8_t> exponent;
};

// The compiled-in key.
RsaPublicKeyBytes signing_key();

// Checks an RSASSA-PKCS1-v1_5 SHA-256 signature of data under key. The
// signature must be exactly as long as the modulus. Two checks, both must
// accept: LibTomCrypt's rsa_verify_hash_ex, and a strict one that compares
// signature^e mod n byte for byte with the one valid encoding of the digest
// (00 01 FF..FF 00, DigestInfo with NULL parameters, digest).
// Returns TSYRETVAL_SUCCESS, TSYRETVAL_INVALID_RSA_SIGNATURE, or
// TSYRETVAL_FAILURE when the big numbers cannot be set up.
int32_t signature_verify_with_key(std::span<const uint8_t> data,
                                  std::span<const uint8_t> signature, RsaPublicKeyBytes key);

// The same for a SHA-256 digest computed by the caller (32 bytes).
int32_t signature_verify_digest(std::span<const uint8_t, 32> digest,
                                std::span<const uint8_t> signature, RsaPublicKeyBytes key);

// LibTomCrypt's verdict alone, without the strict comparison. Exists so that
// tests can show which malformed signatures it lets through by itself.
int32_t signature_verify_digest_library_only(std::span<const uint8_t, 32> digest,
                                             std::span<const uint8_t> signature,
                                             RsaPublicKeyBytes key);
