// signature.cc: RSASSA-PKCS1-v1_5 SHA-256 signature verification.
//
// LibTomCrypt's rsa_verify_hash_ex decodes the DigestInfo and accepts some
// malformed encodings (a DigestInfo without its NULL parameters, a changed
// SEQUENCE tag). A signature is therefore accepted only when LibTomCrypt
// accepts it and, in addition, signature^e mod n equals byte for byte the one
// encoding a signer produces: 00 01 FF..FF 00 || DigestInfo(SHA-256, NULL) ||
// digest. The second exponentiation uses e = 65537 and costs little next to
// the hashing of a large image.
#include <cstring>
#include <mutex>
#include <vector>

#include "package/crypto_signature.h"
#include "package/crypto_tomcrypt.h"
#include "package/package.h"

namespace {

// DER of DigestInfo { AlgorithmIdentifier { id-sha256, NULL }, OCTET STRING (32) },
// without the 32 digest bytes.
constexpr uint8_t kSha256DigestInfoPrefix[] = {0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60,
                                               0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02,
                                               0x01, 0x05, 0x00, 0x04, 0x20};
constexpr size_t kDigestBytes = 32;
constexpr size_t kEncodedDigestInfoBytes = sizeof kSha256DigestInfoPrefix + kDigestBytes;
// 00 01, at least eight FF, 00, DigestInfo.
constexpr size_t kMinimumModulusBytes = 3 + 8 + kEncodedDigestInfoBytes;

// The two key numbers; cleared on every path out.
struct KeyNumbers {
  mp_int n;
  mp_int e;
  bool ready = false;

  KeyNumbers() = default;
  KeyNumbers(const KeyNumbers&) = delete;
  KeyNumbers& operator=(const KeyNumbers&) = delete;
  ~KeyNumbers() {
    if (ready) mp_clear_multi(&n, &e, nullptr);
  }

  bool load(RsaPublicKeyBytes key) {
    if (mp_init_multi(&n, &e, nullptr) != MP_OKAY) return false;
    ready = true;
    return mp_from_ubin(&n, key.modulus.data(), key.modulus.size()) == MP_OKAY &&
           mp_from_ubin(&e, key.exponent.data(), key.exponent.size()) == MP_OKAY;
  }
};

// LibTomCrypt's verdict: TSYRETVAL_SUCCESS only when the call succeeds and
// reports a valid signature.
int32_t library_check(std::span<const uint8_t, 32> digest, std::span<const uint8_t> signature,
                      KeyNumbers& numbers, int hash_index) {
  rsa_key key;
  std::memset(&key, 0, sizeof key);
  key.type = PK_PUBLIC;
  key.N = &numbers.n;
  key.e = &numbers.e;
  int valid = 0;
  const int err = rsa_verify_hash_ex(signature.data(), signature.size(), digest.data(),
                                     digest.size(), LTC_PKCS_1_V1_5, hash_index, 0, &valid, &key);
  return (err == CRYPT_OK && valid == 1) ? TSYRETVAL_SUCCESS : TSYRETVAL_INVALID_RSA_SIGNATURE;
}

// The strict check: s < n, then s^e mod n against the expected encoding.
int32_t encoding_check(std::span<const uint8_t, 32> digest, std::span<const uint8_t> signature,
                       KeyNumbers& numbers, size_t modulus_bytes) {
  mp_int s, m;
  if (mp_init_multi(&s, &m, nullptr) != MP_OKAY) return TSYRETVAL_FAILURE;
  int32_t result = TSYRETVAL_INVALID_RSA_SIGNATURE;
  std::vector<uint8_t> expected(modulus_bytes, 0xFF);
  std::vector<uint8_t> actual(modulus_bytes, 0);
  size_t written = 0;
  if (mp_from_ubin(&s, signature.data(), signature.size()) != MP_OKAY ||
      mp_exptmod(&s, &numbers.e, &numbers.n, &m) != MP_OKAY) {
    result = TSYRETVAL_FAILURE;
  } else if (mp_cmp(&s, &numbers.n) == MP_LT && mp_ubin_size(&m) <= modulus_bytes &&
             mp_to_ubin(&m, actual.data() + modulus_bytes - mp_ubin_size(&m), mp_ubin_size(&m),
                        &written) == MP_OKAY) {
    expected[0] = 0x00;
    expected[1] = 0x01;
    const size_t info_at = modulus_bytes - kEncodedDigestInfoBytes;
    expected[info_at - 1] = 0x00;
    std::memcpy(&expected[info_at], kSha256DigestInfoPrefix, sizeof kSha256DigestInfoPrefix);
    std::memcpy(&expected[info_at + sizeof kSha256DigestInfoPrefix], digest.data(), kDigestBytes);
    if (expected == actual) result = TSYRETVAL_SUCCESS;
  }
  mp_clear_multi(&s, &m, nullptr);
  return result;
}

enum class Checks { kBoth, kLibraryOnly };

int32_t verify(std::span<const uint8_t, 32> digest, std::span<const uint8_t> signature,
               RsaPublicKeyBytes key, Checks checks) {
  const int hash_index = crypto_tomcrypt_sha256_index();
  if (hash_index < 0) return TSYRETVAL_FAILURE;
  KeyNumbers numbers;
  if (!numbers.load(key)) return TSYRETVAL_FAILURE;
  // The signature must have exactly the modulus's length.
  const size_t modulus_bytes = mp_ubin_size(&numbers.n);
  if (modulus_bytes < kMinimumModulusBytes || signature.size() != modulus_bytes) {
    return TSYRETVAL_INVALID_RSA_SIGNATURE;
  }
  const int32_t library = library_check(digest, signature, numbers, hash_index);
  if (library != TSYRETVAL_SUCCESS || checks == Checks::kLibraryOnly) return library;
  return encoding_check(digest, signature, numbers, modulus_bytes);
}

}  // namespace

int crypto_tomcrypt_sha256_index() {
  static int index = -1;
  static std::once_flag once;
  std::call_once(once, [] {
    ltc_mp = ltm_desc;
    index = register_hash(&sha256_desc);
  });
  return index;
}

RsaPublicKeyBytes signing_key() {
  return {std::span<const uint8_t>(kSigningKeyModulus), std::span<const uint8_t>(kSigningKeyExponent)};
}

int32_t signature_verify_digest(std::span<const uint8_t, 32> digest,
                                std::span<const uint8_t> signature, RsaPublicKeyBytes key) {
  return verify(digest, signature, key, Checks::kBoth);
}

int32_t signature_verify_digest_library_only(std::span<const uint8_t, 32> digest,
                                             std::span<const uint8_t> signature,
                                             RsaPublicKeyBytes key) {
  return verify(digest, signature, key, Checks::kLibraryOnly);
}

int32_t signature_verify_with_key(std::span<const uint8_t> data,
                                  std::span<const uint8_t> signature, RsaPublicKeyBytes key) {
  uint8_t digest[32];
  Sha256 ctx;
  sha256_init(&ctx);
  sha256_update(&ctx, data.data(), data.size());
  sha256_final(&ctx, digest);
  return signature_verify_digest(digest, signature, key);
}

int32_t signature_verify(const uint8_t* data, size_t length, const uint8_t signature[256]) {
  return signature_verify_with_key({data, length}, {signature, kRsaModulusBytes}, signing_key());
}
