// signing.h: RSA-2048 signing helpers for the package tools and the tests.
//
// Keys are read from and written to PEM files:
//   private keys: PKCS#8 "BEGIN PRIVATE KEY" or PKCS#1 "BEGIN RSA PRIVATE KEY";
//   public keys:  SubjectPublicKeyInfo "BEGIN PUBLIC KEY" (PKCS#1
//                 "BEGIN RSA PUBLIC KEY" is read as well).
// Lines before the BEGIN line (comments) are skipped. Signatures are
// RSASSA-PKCS1-v1_5 over a SHA-256 digest, 256 bytes, most significant byte
// first: exactly what the package signature check accepts.
//
// Every function returns true on success. On failure it returns false and,
// when error is not null, puts a one-line reason into *error; outputs are then
// unspecified. Nothing throws and nothing is printed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

constexpr size_t kSigningModulusBytes = 256;   // RSA-2048
constexpr size_t kSigningSignatureBytes = 256;

// An RSA key, public or private. Move-only; releases its numbers when destroyed.
class SigningKey {
 public:
  SigningKey();
  ~SigningKey();
  SigningKey(SigningKey&&) noexcept;
  SigningKey& operator=(SigningKey&&) noexcept;
  SigningKey(const SigningKey&) = delete;
  SigningKey& operator=(const SigningKey&) = delete;

  bool empty() const;        // nothing loaded yet
  bool has_private() const;  // can sign
  size_t modulus_bytes() const;  // 256 for RSA-2048; 0 when empty

  // The LibTomCrypt key inside; used by signing.cc only.
  struct Impl;
  explicit SigningKey(std::unique_ptr<Impl> impl);
  Impl* impl() const { return impl_.get(); }

 private:
  std::unique_ptr<Impl> impl_;
};

enum class PrivateKeyFormat {
  kPkcs8,  // "BEGIN PRIVATE KEY", as keys/development.key.pem
  kPkcs1,  // "BEGIN RSA PRIVATE KEY"
};

// Loads a private key (PKCS#8 or PKCS#1 PEM) from pem_path. Refuses keys that
// are not RSA-2048.
bool signing_load_private_key(const std::string& pem_path, SigningKey* key, std::string* error);
// Loads a public key (SubjectPublicKeyInfo or PKCS#1 PEM) from pem_path.
// Refuses keys that are not RSA-2048.
bool signing_load_public_key(const std::string& pem_path, SigningKey* key, std::string* error);
// The same from PEM text in memory.
bool signing_parse_private_key(std::string_view pem_text, SigningKey* key, std::string* error);
bool signing_parse_public_key(std::string_view pem_text, SigningKey* key, std::string* error);

// Hashes data with the package subsystem's SHA-256 and signs the digest.
// key must hold a private key.
bool signing_sign_sha256(const SigningKey& key, std::span<const uint8_t> data,
                         uint8_t signature[kSigningSignatureBytes]);
// Signs a digest computed elsewhere (32 bytes for "sha256"). hash_name is
// "sha256" or "sha1" (the latter only to make wrong-hash signatures in tests).
bool signing_sign_digest(const SigningKey& key, std::string_view hash_name,
                         std::span<const uint8_t> digest,
                         uint8_t signature[kSigningSignatureBytes], std::string* error = nullptr);
// The raw private-key operation on a 256-byte block (block^d mod n), for
// tests that need a signature over an encoding of their own. The block must
// be below the modulus.
bool signing_raw_private(const SigningKey& key, std::span<const uint8_t, kSigningModulusBytes> block,
                         uint8_t out[kSigningModulusBytes], std::string* error = nullptr);

// Generates a new RSA-2048 key pair with public exponent 65537 from the
// system's random source.
bool signing_generate_key(SigningKey* key, std::string* error);

// The modulus, 256 bytes, most significant first, and the public exponent.
bool signing_public_numbers(const SigningKey& key, uint8_t modulus[kSigningModulusBytes],
                            uint32_t* exponent);

// PEM texts of a key: the private half (key must hold one) and the public
// half (SubjectPublicKeyInfo).
bool signing_private_pem(const SigningKey& key, PrivateKeyFormat format, std::string* pem,
                         std::string* error);
bool signing_public_pem(const SigningKey& key, std::string* pem, std::string* error);

// Writes the private half to private_path and the public half to public_path.
// An empty path skips that half. The private file is created with mode 0600.
bool signing_write_pem(const SigningKey& key, const std::string& private_path,
                       const std::string& public_path, PrivateKeyFormat format,
                       std::string* error);
