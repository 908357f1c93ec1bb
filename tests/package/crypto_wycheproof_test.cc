// The signature check against every Wycheproof RSASSA-PKCS1-v1_5 2048-bit
// SHA-256 case, each with its own group's key.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <set>
#include <string>
#include <vector>

#include "package/crypto_signature.h"
#include "package/package.h"
#include "tests/package/crypto_test_util.h"

namespace {

using crypto_test::from_hex;

struct WycheproofCase {
  int id;
  std::string comment;
  std::string result;  // "valid", "invalid" or "acceptable"
  std::vector<uint8_t> modulus;
  std::vector<uint8_t> exponent;
  std::vector<uint8_t> msg;
  std::vector<uint8_t> sig;
};

std::vector<WycheproofCase> load_cases() {
  const auto doc = nlohmann::json::parse(crypto_test::read_file(
      crypto_test::testdata_dir() + "/wycheproof/rsa_signature_2048_sha256_test.json"));
  std::vector<WycheproofCase> cases;
  for (const auto& group : doc.at("testGroups")) {
    const auto& key = group.at("publicKey");
    const auto modulus = from_hex(key.at("modulus").get<std::string>());
    const auto exponent = from_hex(key.at("publicExponent").get<std::string>());
    for (const auto& t : group.at("tests")) {
      cases.push_back({t.at("tcId").get<int>(), t.at("comment").get<std::string>(),
                       t.at("result").get<std::string>(), modulus, exponent,
                       from_hex(t.at("msg").get<std::string>()),
                       from_hex(t.at("sig").get<std::string>())});
    }
  }
  EXPECT_EQ(cases.size(), doc.at("numberOfTests").get<size_t>());
  return cases;
}

RsaPublicKeyBytes key_of(const WycheproofCase& c) { return {c.modulus, c.exponent}; }

int32_t verify(const WycheproofCase& c) {
  return signature_verify_with_key(c.msg, c.sig, key_of(c));
}

// LibTomCrypt alone on the same case.
int32_t verify_library_only(const WycheproofCase& c) {
  uint8_t digest[32];
  sha256(c.msg.data(), c.msg.size(), digest);
  return signature_verify_digest_library_only(std::span<const uint8_t, 32>(digest), c.sig,
                                              key_of(c));
}

// Valid signatures are accepted and everything else refused, including the
// one "acceptable" case (tcId 8, a DigestInfo without its NULL): the strict
// comparison accepts only the encoding a signer produces, with the NULL.
TEST(Wycheproof, EveryCaseHasTheExpectedVerdict) {
  for (const auto& c : load_cases()) {
    const int32_t expected =
        c.result == "valid" ? TSYRETVAL_SUCCESS : TSYRETVAL_INVALID_RSA_SIGNATURE;
    EXPECT_EQ(verify(c), expected) << "tcId " << c.id << " (" << c.result << "): " << c.comment;
  }
}

// The malformed encodings that LibTomCrypt lets through by itself and the
// strict comparison stops. Every other case gets the same verdict from both.
TEST(Wycheproof, LibraryAloneAcceptsMalformedDigestInfoThatTheCheckRefuses) {
  const std::set<int> library_lets_through = {8, 43};
  for (const auto& c : load_cases()) {
    const int32_t library = verify_library_only(c);
    if (library_lets_through.count(c.id) != 0) {
      EXPECT_EQ(library, TSYRETVAL_SUCCESS) << "tcId " << c.id << ": " << c.comment;
      EXPECT_EQ(verify(c), TSYRETVAL_INVALID_RSA_SIGNATURE) << "tcId " << c.id;
    } else {
      EXPECT_EQ(library, verify(c)) << "tcId " << c.id << ": " << c.comment;
    }
  }
}

}  // namespace
