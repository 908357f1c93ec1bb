// signing.cc: RSA-2048 key files and RSASSA-PKCS1-v1_5 signing on LibTomCrypt.
#include "tools/signing/signing.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "package/crypto_tomcrypt.h"
#include "package/package.h"

struct SigningKey::Impl {
  rsa_key key;
  Impl() { std::memset(&key, 0, sizeof key); }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;
  ~Impl() { rsa_free(&key); }
};

SigningKey::SigningKey() = default;
SigningKey::SigningKey(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
SigningKey::~SigningKey() = default;
SigningKey::SigningKey(SigningKey&&) noexcept = default;
SigningKey& SigningKey::operator=(SigningKey&&) noexcept = default;

bool SigningKey::empty() const { return !impl_; }
bool SigningKey::has_private() const { return impl_ && impl_->key.type == PK_PRIVATE; }
size_t SigningKey::modulus_bytes() const {
  return impl_ ? mp_ubin_size(static_cast<const mp_int*>(impl_->key.N)) : 0;
}

namespace {

constexpr uint8_t kRsaEncryptionOid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};

bool fail(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
  return false;
}

bool fail_tomcrypt(std::string* error, const std::string& what, int err) {
  return fail(error, what + ": " + error_to_string(err));
}

struct Indexes {
  int sha256 = -1;
  int sha1 = -1;
  int prng = -1;
};

// LibTomCrypt set up once: math descriptor, the two hashes, the system PRNG.
const Indexes& indexes() {
  static Indexes ix;
  static std::once_flag once;
  std::call_once(once, [] {
    ix.sha256 = crypto_tomcrypt_sha256_index();
    ix.sha1 = register_hash(&sha1_desc);
    ix.prng = register_prng(&sprng_desc);
  });
  return ix;
}

// One PEM block: its label and its decoded bytes. Lines before the BEGIN
// line are skipped (comments); encrypted PEM (header lines) is refused.
bool read_pem_block(std::string_view text, std::string* label, std::vector<uint8_t>* der,
                    std::string* error) {
  static constexpr std::string_view kBegin = "-----BEGIN ";
  static constexpr std::string_view kDashes = "-----";
  std::string end_line;
  std::string body;
  bool inside = false;
  size_t at = 0;
  while (at < text.size()) {
    size_t eol = text.find('\n', at);
    if (eol == std::string_view::npos) eol = text.size();
    std::string_view line = text.substr(at, eol - at);
    at = eol + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
      line.remove_suffix(1);
    }
    if (!inside) {
      if (line.substr(0, kBegin.size()) == kBegin && line.size() > kBegin.size() + kDashes.size() &&
          line.substr(line.size() - kDashes.size()) == kDashes) {
        *label = std::string(line.substr(kBegin.size(), line.size() - kBegin.size() - kDashes.size()));
        end_line = "-----END " + *label + "-----";
        inside = true;
      }
      continue;
    }
    if (line == end_line) {
      if (body.empty()) return fail(error, "the PEM block \"" + *label + "\" is empty");
      der->assign(body.size(), 0);
      unsigned long length = static_cast<unsigned long>(der->size());
      const int err = base64_decode(reinterpret_cast<const unsigned char*>(body.data()),
                                    static_cast<unsigned long>(body.size()), der->data(), &length);
      if (err != CRYPT_OK) return fail_tomcrypt(error, "bad base64 in the PEM block", err);
      der->resize(length);
      return true;
    }
    if (line.find(':') != std::string_view::npos) {
      return fail(error, "encrypted PEM keys are not supported");
    }
    body.append(line);
  }
  if (!inside) return fail(error, "no \"-----BEGIN ...-----\" line found");
  return fail(error, "no \"" + end_line + "\" line found");
}

// Keys the tools accept: RSA-2048 with exponent 65537, what the check needs.
bool check_key_shape(const rsa_key& key, std::string* error) {
  const int bits = mp_count_bits(static_cast<const mp_int*>(key.N));
  if (bits != 2048) return fail(error, "the key is RSA-" + std::to_string(bits) + ", not RSA-2048");
  mp_int e;
  if (mp_init_u32(&e, 65537) != MP_OKAY) return fail(error, "out of memory");
  const bool f4 = mp_cmp(static_cast<const mp_int*>(key.e), &e) == MP_EQ;
  mp_clear(&e);
  if (!f4) return fail(error, "the public exponent is not 65537");
  return true;
}

// PrivateKeyInfo { version 0, AlgorithmIdentifier { rsaEncryption, NULL },
// OCTET STRING { RSAPrivateKey } }: the RSAPrivateKey bytes inside.
bool unwrap_pkcs8(const std::vector<uint8_t>& der, std::vector<uint8_t>* pkcs1, std::string* error) {
  size_t at = 0;
  // Reads one DER header with the given tag; sets the content's bounds.
  auto element = [&](uint8_t tag, size_t limit, size_t* start, size_t* end) {
    if (at + 2 > limit || der[at] != tag) return false;
    size_t length = der[at + 1];
    at += 2;
    if (length & 0x80u) {
      const size_t count = length & 0x7Fu;
      if (count == 0 || count > 3 || at + count > limit) return false;
      length = 0;
      for (size_t i = 0; i < count; ++i) length = (length << 8) | der[at++];
    }
    if (length > limit - at) return false;
    *start = at;
    *end = at + length;
    return true;
  };
  size_t outer_start, outer_end, s, e;
  if (!element(0x30, der.size(), &outer_start, &outer_end) || outer_end != der.size() ||
      !element(0x02, outer_end, &s, &e) || e - s != 1 || der[s] != 0) {
    return fail(error, "not a PKCS#8 private key");
  }
  at = e;
  size_t alg_end;
  if (!element(0x30, outer_end, &s, &alg_end) || !element(0x06, alg_end, &s, &e) ||
      e - s != sizeof kRsaEncryptionOid || std::memcmp(&der[s], kRsaEncryptionOid, e - s) != 0) {
    return fail(error, "the PKCS#8 key is not an RSA key");
  }
  at = alg_end;
  if (!element(0x04, outer_end, &s, &e)) return fail(error, "not a PKCS#8 private key");
  pkcs1->assign(der.begin() + static_cast<std::ptrdiff_t>(s), der.begin() + static_cast<std::ptrdiff_t>(e));
  return true;
}

void der_length(std::vector<uint8_t>* out, size_t length) {
  if (length < 0x80) {
    out->push_back(static_cast<uint8_t>(length));
  } else if (length < 0x100) {
    out->push_back(0x81);
    out->push_back(static_cast<uint8_t>(length));
  } else {
    out->push_back(0x82);
    out->push_back(static_cast<uint8_t>(length >> 8));
    out->push_back(static_cast<uint8_t>(length));
  }
}

std::vector<uint8_t> wrap_pkcs8(const std::vector<uint8_t>& pkcs1) {
  std::vector<uint8_t> inner = {0x02, 0x01, 0x00, 0x30, 0x0D, 0x06, 0x09};
  inner.insert(inner.end(), std::begin(kRsaEncryptionOid), std::end(kRsaEncryptionOid));
  inner.push_back(0x05);
  inner.push_back(0x00);
  inner.push_back(0x04);
  der_length(&inner, pkcs1.size());
  inner.insert(inner.end(), pkcs1.begin(), pkcs1.end());
  std::vector<uint8_t> out = {0x30};
  der_length(&out, inner.size());
  out.insert(out.end(), inner.begin(), inner.end());
  return out;
}

bool to_pem(const std::vector<uint8_t>& der, const char* label, std::string* pem,
            std::string* error) {
  std::string base64(4 * (der.size() / 3 + 1) + 1, '\0');
  unsigned long length = static_cast<unsigned long>(base64.size());
  const int err = base64_encode(der.data(), static_cast<unsigned long>(der.size()),
                                reinterpret_cast<unsigned char*>(base64.data()), &length);
  if (err != CRYPT_OK) return fail_tomcrypt(error, "base64 encoding failed", err);
  base64.resize(length);
  std::string out = std::string("-----BEGIN ") + label + "-----\n";
  for (size_t at = 0; at < base64.size(); at += 64) out += base64.substr(at, 64) + "\n";
  out += std::string("-----END ") + label + "-----\n";
  *pem = std::move(out);
  return true;
}

bool export_key(const SigningKey& key, int type, std::vector<uint8_t>* der, std::string* error) {
  der->assign(8192, 0);
  unsigned long length = static_cast<unsigned long>(der->size());
  const int err = rsa_export(der->data(), &length, type, &key.impl()->key);
  if (err != CRYPT_OK) return fail_tomcrypt(error, "cannot encode the key", err);
  der->resize(length);
  return true;
}

bool read_text_file(const std::string& path, std::string* text, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return fail(error, path + ": " + std::strerror(errno));
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) return fail(error, path + ": read error");
  *text = content.str();
  return true;
}

bool write_text_file(const std::string& path, const std::string& text, bool secret,
                     std::string* error) {
#ifndef _WIN32
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, secret ? 0600 : 0644);
  if (fd < 0) return fail(error, path + ": " + std::strerror(errno));
  // A file that existed keeps its mode through open(); a secret must not.
  if (secret && ::fchmod(fd, 0600) != 0) {
    const int saved = errno;
    ::close(fd);
    return fail(error, path + ": " + std::strerror(saved));
  }
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int saved = errno;
      ::close(fd);
      return fail(error, path + ": " + std::strerror(saved));
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) return fail(error, path + ": " + std::strerror(errno));
  return true;
#else
  (void)secret;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) return fail(error, path + ": write error");
  return true;
#endif
}

}  // namespace

bool signing_parse_private_key(std::string_view pem_text, SigningKey* key, std::string* error) {
  indexes();
  std::string label;
  std::vector<uint8_t> der;
  if (!read_pem_block(pem_text, &label, &der, error)) return false;
  std::vector<uint8_t> pkcs1;
  if (label == "PRIVATE KEY") {
    if (!unwrap_pkcs8(der, &pkcs1, error)) return false;
  } else if (label == "RSA PRIVATE KEY") {
    pkcs1 = std::move(der);
  } else if (label == "ENCRYPTED PRIVATE KEY") {
    return fail(error, "encrypted private keys are not supported");
  } else {
    return fail(error, "the PEM block is \"" + label + "\", not a private key");
  }
  auto impl = std::make_unique<SigningKey::Impl>();
  const int err = rsa_import(pkcs1.data(), static_cast<unsigned long>(pkcs1.size()), &impl->key);
  if (err != CRYPT_OK) {
    std::memset(&impl->key, 0, sizeof impl->key);
    return fail_tomcrypt(error, "cannot decode the RSA private key", err);
  }
  if (impl->key.type != PK_PRIVATE) return fail(error, "the PEM block holds no private key");
  if (!check_key_shape(impl->key, error)) return false;
  *key = SigningKey(std::move(impl));
  return true;
}

bool signing_parse_public_key(std::string_view pem_text, SigningKey* key, std::string* error) {
  indexes();
  std::string label;
  std::vector<uint8_t> der;
  if (!read_pem_block(pem_text, &label, &der, error)) return false;
  if (label != "PUBLIC KEY" && label != "RSA PUBLIC KEY") {
    return fail(error, "the PEM block is \"" + label + "\", not a public key");
  }
  auto impl = std::make_unique<SigningKey::Impl>();
  const int err = rsa_import(der.data(), static_cast<unsigned long>(der.size()), &impl->key);
  if (err != CRYPT_OK) {
    std::memset(&impl->key, 0, sizeof impl->key);
    return fail_tomcrypt(error, "cannot decode the RSA public key", err);
  }
  if (!check_key_shape(impl->key, error)) return false;
  *key = SigningKey(std::move(impl));
  return true;
}

bool signing_load_private_key(const std::string& pem_path, SigningKey* key, std::string* error) {
  std::string text;
  if (!read_text_file(pem_path, &text, error)) return false;
  if (!signing_parse_private_key(text, key, error)) {
    if (error != nullptr) *error = pem_path + ": " + *error;
    return false;
  }
  return true;
}

bool signing_load_public_key(const std::string& pem_path, SigningKey* key, std::string* error) {
  std::string text;
  if (!read_text_file(pem_path, &text, error)) return false;
  if (!signing_parse_public_key(text, key, error)) {
    if (error != nullptr) *error = pem_path + ": " + *error;
    return false;
  }
  return true;
}

bool signing_sign_digest(const SigningKey& key, std::string_view hash_name,
                         std::span<const uint8_t> digest,
                         uint8_t signature[kSigningSignatureBytes], std::string* error) {
  const Indexes& ix = indexes();
  if (!key.has_private()) return fail(error, "the key has no private half");
  int hash_index = -1;
  size_t digest_bytes = 0;
  if (hash_name == "sha256") {
    hash_index = ix.sha256;
    digest_bytes = 32;
  } else if (hash_name == "sha1") {
    hash_index = ix.sha1;
    digest_bytes = 20;
  } else {
    return fail(error, "unsupported hash \"" + std::string(hash_name) + "\"");
  }
  if (hash_index < 0) return fail(error, "the hash is not available");
  if (digest.size() != digest_bytes) return fail(error, "the digest has the wrong length");
  if (key.modulus_bytes() != kSigningSignatureBytes) return fail(error, "the key is not RSA-2048");
  unsigned long length = kSigningSignatureBytes;
  const int err = rsa_sign_hash_ex(digest.data(), static_cast<unsigned long>(digest.size()),
                                   signature, &length, LTC_PKCS_1_V1_5, nullptr, ix.prng,
                                   hash_index, 0, &key.impl()->key);
  if (err != CRYPT_OK) return fail_tomcrypt(error, "signing failed", err);
  if (length != kSigningSignatureBytes) return fail(error, "signing gave a short signature");
  return true;
}

bool signing_sign_sha256(const SigningKey& key, std::span<const uint8_t> data,
                         uint8_t signature[kSigningSignatureBytes]) {
  uint8_t digest[32];
  sha256(data.data(), data.size(), digest);
  return signing_sign_digest(key, "sha256", digest, signature);
}

bool signing_raw_private(const SigningKey& key, std::span<const uint8_t, kSigningModulusBytes> block,
                         uint8_t out[kSigningModulusBytes], std::string* error) {
  indexes();
  if (!key.has_private()) return fail(error, "the key has no private half");
  unsigned long length = kSigningModulusBytes;
  const int err = rsa_exptmod(block.data(), static_cast<unsigned long>(block.size()), out,
                              &length, PK_PRIVATE, &key.impl()->key);
  if (err != CRYPT_OK) return fail_tomcrypt(error, "the private-key operation failed", err);
  if (length != kSigningModulusBytes) return fail(error, "the private-key operation gave a short result");
  return true;
}

bool signing_generate_key(SigningKey* key, std::string* error) {
  const Indexes& ix = indexes();
  if (ix.prng < 0) return fail(error, "no random source");
  auto impl = std::make_unique<SigningKey::Impl>();
  const int err = rsa_make_key(nullptr, ix.prng, static_cast<int>(kSigningModulusBytes), 65537,
                               &impl->key);
  if (err != CRYPT_OK) {
    std::memset(&impl->key, 0, sizeof impl->key);
    return fail_tomcrypt(error, "key generation failed", err);
  }
  *key = SigningKey(std::move(impl));
  return true;
}

bool signing_public_numbers(const SigningKey& key, uint8_t modulus[kSigningModulusBytes],
                            uint32_t* exponent) {
  if (key.modulus_bytes() != kSigningModulusBytes) return false;
  const mp_int* n = static_cast<const mp_int*>(key.impl()->key.N);
  const mp_int* e = static_cast<const mp_int*>(key.impl()->key.e);
  size_t written = 0;
  if (mp_to_ubin(n, modulus, kSigningModulusBytes, &written) != MP_OKAY ||
      written != kSigningModulusBytes || mp_count_bits(e) > 32) {
    return false;
  }
  if (exponent != nullptr) *exponent = mp_get_u32(e);
  return true;
}

bool signing_private_pem(const SigningKey& key, PrivateKeyFormat format, std::string* pem,
                         std::string* error) {
  if (!key.has_private()) return fail(error, "the key has no private half");
  std::vector<uint8_t> der;
  if (!export_key(key, PK_PRIVATE, &der, error)) return false;
  if (format == PrivateKeyFormat::kPkcs1) return to_pem(der, "RSA PRIVATE KEY", pem, error);
  const bool ok = to_pem(wrap_pkcs8(der), "PRIVATE KEY", pem, error);
  std::fill(der.begin(), der.end(), uint8_t{0});
  return ok;
}

bool signing_public_pem(const SigningKey& key, std::string* pem, std::string* error) {
  if (key.empty()) return fail(error, "no key");
  std::vector<uint8_t> der;
  if (!export_key(key, PK_PUBLIC | PK_STD, &der, error)) return false;
  return to_pem(der, "PUBLIC KEY", pem, error);
}

bool signing_write_pem(const SigningKey& key, const std::string& private_path,
                       const std::string& public_path, PrivateKeyFormat format,
                       std::string* error) {
  if (!private_path.empty()) {
    std::string pem;
    if (!signing_private_pem(key, format, &pem, error) ||
        !write_text_file(private_path, pem, true, error)) {
      return false;
    }
  }
  if (!public_path.empty()) {
    std::string pem;
    if (!signing_public_pem(key, &pem, error) || !write_text_file(public_path, pem, false, error)) {
      return false;
    }
  }
  return true;
}
