// Item image checks: entry CRC, header images, trailer images, markers and
// the declared type, and VPD areas.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "package/package.h"
#include "tests/package/pkg_test_util.h"
#include "tools/pkgbuild/package_builder.h"

namespace {

using pkg_test::Bytes;
using pkg_test::signer;
using pkgbuild::HeaderImage;
using pkgbuild::MarkerContainer;
using pkgbuild::MarkerImage;
using pkgbuild::Signature;
using pkgbuild::TrailerImage;

constexpr uint16_t kNoCrc = 0x0001;
constexpr uint16_t kTrailer = 0x0010;

struct ItemCase {
  const char* name;
  uint16_t dir_type;
  uint16_t dir_attr;
  std::function<Bytes()> data;
  int32_t status;
  bool wrong_crc = false;  // pass a data_crc32 that does not match
};

Bytes header(HeaderImage h) { return pkgbuild::header_image(h, signer()); }
Bytes trailer(TrailerImage t) { return pkgbuild::trailer_image(t, signer()); }
Bytes flipped(Bytes b, size_t at) {
  b[at] ^= 0x01;
  return b;
}
Bytes vpd(pkgbuild::VpdArea v) { return pkgbuild::vpd_area(v); }

const ItemCase kItemCases[] = {
    // Entry CRC.
    {"plain item", 0x30, 0, [] { return Bytes{1, 2, 3}; }, TSYRETVAL_SUCCESS},
    {"plain item, CRC wrong", 0x30, 0, [] { return Bytes{1, 2, 3}; }, TSYRETVAL_INVALID_CHECKSUM, true},
    {"CRC not carried", 0x30, kNoCrc, [] { return Bytes{1, 2, 3}; }, TSYRETVAL_SUCCESS, true},
    {"CRC not carried, image still checked", 4, kNoCrc, [] { return flipped(header({.image_code = 5}), 7); },
     TSYRETVAL_INVALID_CHECKSUM, true},
    {"type 78: no check at all", 78, 0, [] { return Bytes{0xDE, 0xAD}; }, TSYRETVAL_SUCCESS, true},
    {"type 79: no check at all", 79, 0, [] { return Bytes{}; }, TSYRETVAL_SUCCESS, true},

    // Header images and their declared type.
    {"header image, code 5 in a type 4 entry", 4, 0, [] { return header({.image_code = 5}); }, TSYRETVAL_SUCCESS},
    {"header image, code 5 in a type 18 entry", 18, 0, [] { return header({.image_code = 5}); }, TSYRETVAL_SUCCESS},
    {"header image, code 5 in a type 3 entry", 3, 0, [] { return header({.image_code = 5}); },
     TSYRETVAL_INVALID_TYPE_PARAMETER},
    {"header image, code 21 in a type 3 entry", 3, 0, [] { return header({.image_code = 21}); }, TSYRETVAL_SUCCESS},
    {"header image, code 22 in a type 66 entry", 66, 0, [] { return header({.image_code = 22}); }, TSYRETVAL_SUCCESS},
    {"header image, code 7 in a type 11 entry", 11, 0, [] { return header({.image_code = 7}); },
     TSYRETVAL_INVALID_TYPE_PARAMETER},
    {"header image, unknown code", 58, 0, [] { return header({.image_code = 9}); }, TSYRETVAL_SUCCESS},
    {"header image, entry CRC wrong", 4, 0, [] { return header({.image_code = 5, .format = 0}); },
     TSYRETVAL_INVALID_CHECKSUM, true},
    {"header image under 32 bytes", 4, 0, [] { Bytes b = header({}); b.resize(31); return b; },
     TSYRETVAL_INVALID_DATA_LENGTH},
    {"header image magic", 10, 0, [] { return header({.magic = {0x54, 0x53, 0x59, 0x1B}}); },
     TSYRETVAL_INVALID_SIGNATURE},
    {"header format", 10, 0, [] { return header({.format = 0x12}); }, TSYRETVAL_INVALID_FILE_HEADER},
    {"header image CRC", 10, 0, [] { return header({.crc = 0}); }, TSYRETVAL_INVALID_CHECKSUM},
    {"header image of 287 bytes", 10, 0, [] { return header({.body_length = 287 - 267}); },
     TSYRETVAL_INVALID_DATA_LENGTH},
    {"header image of 288 bytes", 10, 0, [] { return header({.body_length = 288 - 267}); }, TSYRETVAL_SUCCESS},
    {"header image unsigned", 12, 0, [] { return header({.signature = Signature::UNSIGNED}); },
     TSYRETVAL_INVALID_RSA_SIGNATURE},
    {"header image signature corrupt", 12, 0, [] { return header({.signature = Signature::CORRUPT}); },
     TSYRETVAL_INVALID_RSA_SIGNATURE},

    // Trailer images.
    {"trailer image", 6, kTrailer, [] { return trailer({.trailer_type = 6}); }, TSYRETVAL_SUCCESS},
    {"trailer image of unknown type", 27, kTrailer, [] { return trailer({}); }, TSYRETVAL_SUCCESS},
    {"trailer image of another type", 7, kTrailer, [] { return trailer({.trailer_type = 8}); },
     TSYRETVAL_INVALID_TYPE_PARAMETER},
    {"trailer attribute missing", 6, 0, [] { return Bytes{1, 2}; }, TSYRETVAL_TRAILER_NOT_FOUND},
    {"trailer under 32 bytes", 9, kTrailer, [] { return Bytes(31, 0); }, TSYRETVAL_INVALID_LENGTH_PARAMETER},
    {"trailer magic", 9, kTrailer, [] { return trailer({.magic = {'T', 'r', 'l', 's'}}); }, TSYRETVAL_INVALID_SIGNATURE},
    {"trailer length under 32", 9, kTrailer, [] { return trailer({.trailer_length = 31}); },
     TSYRETVAL_INVALID_LENGTH_PARAMETER},
    {"trailer length beyond the image", 9, kTrailer, [] { return trailer({.body_length = 10, .trailer_length = 299}); },
     TSYRETVAL_INVALID_LENGTH_PARAMETER},
    {"trailer image under 288 bytes", 9, kTrailer,
     [] { Bytes b = trailer({.trailer_length = 32}); return Bytes(b.end() - 287, b.end()); },
     TSYRETVAL_INVALID_LENGTH_PARAMETER},
    {"trailer image CRC", 19, kTrailer, [] { return trailer({.crc = 5}); }, TSYRETVAL_INVALID_ITEM_CHECKSUM},
    {"trailer length 32: no signature", 21, kTrailer, [] { return trailer({.trailer_length = 32}); },
     TSYRETVAL_INVALID_TRAILER},
    {"trailer image unsigned", 22, kTrailer, [] { return trailer({.signature = Signature::UNSIGNED}); },
     TSYRETVAL_INVALID_RSA_SIGNATURE},
    {"trailer image, signed range changed", 22, kTrailer, [] { return flipped(trailer({}), 3); },
     TSYRETVAL_INVALID_ITEM_CHECKSUM},

    // Marker images.
    {"marker image", 62, 0, [] { return pkgbuild::marker_image({}); }, TSYRETVAL_SUCCESS, true},
    {"longer marker image", 108, 0, [] { return pkgbuild::marker_image({.length = 500}); }, TSYRETVAL_SUCCESS},
    {"marker first word", 63, 0, [] { return pkgbuild::marker_image({.first_word = 0xA5A5A5A4}); },
     TSYRETVAL_INVALID_SIGNATURE},
    {"marker last word", 88, 0, [] { return pkgbuild::marker_image({.last_word = 0}); }, TSYRETVAL_INVALID_SIGNATURE},
    {"marker header cut short", 105, 0, [] { return pkgbuild::marker_image({.length = 63}); },
     TSYRETVAL_INVALID_SIGNATURE},
    {"marker container", 61, 0, [] { return pkgbuild::marker_container({}); }, TSYRETVAL_SUCCESS},
    {"marker container with a gap", 61, 0,
     [] { return pkgbuild::marker_container({.b = 0x1000 + 200, .first = {.length = 100}}); }, TSYRETVAL_SUCCESS},
    {"marker container magic", 61, 0, [] { return pkgbuild::marker_container({.first_word = 0}); },
     TSYRETVAL_INVALID_SIGNATURE},
    {"marker container count", 61, 0, [] { return pkgbuild::marker_container({.count = 3}); },
     TSYRETVAL_INVALID_SIGNATURE},
    {"marker container B equal to A", 61, 0, [] { return pkgbuild::marker_container({.b = 0x1000}); },
     TSYRETVAL_INVALID_SIGNATURE},
    {"marker container second image missing", 61, 0,
     [] { Bytes b = pkgbuild::marker_container({}); b.resize(256 + 64 + 10); return b; }, TSYRETVAL_INVALID_SIGNATURE},
    {"marker container second image far away", 61, 0,
     [] { Bytes b = pkgbuild::marker_container({}); pkgbuild::put_u32(b, 20, 0xFFFFFFFF); return b; },
     TSYRETVAL_INVALID_SIGNATURE},
    {"marker container head cut short", 61, 0, [] { Bytes b = pkgbuild::marker_container({}); b.resize(16); return b; },
     TSYRETVAL_INVALID_SIGNATURE},

    // VPD items.
    {"VPD item", 5, 0, [] { return vpd({}); }, TSYRETVAL_SUCCESS},
    {"VPD item of 4 bytes", 5, 0, [] { return Bytes{0, 0, 0, 0}; }, TSYRETVAL_INVALID_DATA_LENGTH},
    {"VPD item of 5 bytes", 5, 0, [] { return Bytes{0, 0, 0, 0, 0x78}; }, TSYRETVAL_SUCCESS},
    {"VPD item, CRC wrong", 5, 0, [] { return vpd({}); }, TSYRETVAL_INVALID_CHECKSUM, true},
};

TEST(ItemValidate, Cases) {
  ASSERT_TRUE(signer().valid()) << "the development key did not load";
  for (const ItemCase& c : kItemCases) {
    SCOPED_TRACE(c.name);
    const Bytes data = c.data();
    uint32_t crc = pkgbuild::crc32(data);
    if (c.wrong_crc) crc ^= 0x80000000u;
    EXPECT_EQ(item_validate(data, c.dir_type, c.dir_attr, crc), c.status);
  }
}

TEST(ItemValidate, DeclaredType) {
  struct Case {
    const char* name;
    Bytes data;
    uint16_t type;
  };
  Bytes short_header = header({.image_code = 21});
  short_header.resize(29);
  Bytes too_short = short_header;
  too_short.resize(28);
  const Case cases[] = {
      {"header image code 20", header({.image_code = 20}), 15},
      {"header image code 15", header({.image_code = 15}), 11},
      {"header image code 17", header({.image_code = 17}), 12},
      {"header image code 18", header({.image_code = 18}), 13},
      {"header image code 19", header({.image_code = 19}), 14},
      {"header image unknown code", header({.image_code = 6}), 0},
      {"29 bytes of header are enough", short_header, 3},
      {"28 bytes are not", too_short, 0},
      {"header format other than 0x13", header({.image_code = 21, .format = 0x14}), 0},
      {"trailer image", trailer({.trailer_type = 0x1234}), 0x1234},
      {"trailer that fails its framing", trailer({.trailer_type = 7, .trailer_length = 20}), 0},
      {"trailer whose CRC is wrong still declares", trailer({.trailer_type = 7, .crc = 1}), 7},
      {"neither", Bytes(400, 0x11), 0},
      {"empty", Bytes{}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(image_declared_type(c.data), c.type);
  }
}

// ---------------------------------------------------------------------------
// VPD areas (the item's bytes after its first four).

Bytes area(pkgbuild::VpdArea v) {
  const Bytes item = pkgbuild::vpd_area(v);
  return Bytes(item.begin() + 4, item.end());
}

TEST(VpdValidate, Areas) {
  using pkgbuild::VpdArea;
  using pkgbuild::VpdKeyword;
  using pkgbuild::vpd_text_keyword;
  struct Case {
    const char* name;
    Bytes area;
    int32_t status;
  };
  Bytes cut_large = area({.read_only = false, .end_tag = false});
  cut_large.push_back(0x82);
  cut_large.push_back(0x05);
  const Case cases[] = {
      {"identifier, VPD-R with PN, EC, RV, end tag", area({}), TSYRETVAL_SUCCESS},
      {"with VPD-W", area({.read_write = true}), TSYRETVAL_SUCCESS},
      {"reserved RV byte set", area({.rv_reserved_fill = 1}), TSYRETVAL_UNEXPECTED_DATA},
      {"checksum wrong", area({.checksum_delta = 1}), TSYRETVAL_INVALID_CHECKSUM},
      {"byte after the end tag", area({.trailing = {0}}), TSYRETVAL_INVALID_END_TAG},
      {"no end tag", area({.end_tag = false}), TSYRETVAL_END_TAG_NOT_FOUND},
      {"empty area", Bytes{}, TSYRETVAL_END_TAG_NOT_FOUND},
      {"only an end tag", Bytes{0x78}, TSYRETVAL_SUCCESS},
      {"end tag whose length runs past the area", Bytes{0x79}, TSYRETVAL_INVALID_END_TAG},
      {"end tag with its data", Bytes{0x79, 0x00}, TSYRETVAL_SUCCESS},
      {"two PN keywords",
       area({.read_only_keywords = {vpd_text_keyword("PN", "A"), vpd_text_keyword("EC", "B"), vpd_text_keyword("PN", "C")}}),
       TSYRETVAL_DUPLICATE_ITEM},
      {"empty keyword before a duplicate",
       area({.read_only_keywords = {vpd_text_keyword("PN", "A"), vpd_text_keyword("EC", ""), vpd_text_keyword("PN", "C")}}),
       TSYRETVAL_DUPLICATE_ITEM},
      {"empty keyword", area({.read_only_keywords = {vpd_text_keyword("PN", "A"), vpd_text_keyword("EC", "")}}),
       TSYRETVAL_ZERO_LENGTH_ITEM},
      {"padding ends the keyword list",
       area({.read_only_keywords = {vpd_text_keyword("PN", "A"), VpdKeyword{std::string("\0X", 2), {}},
                                    vpd_text_keyword("PN", "")}}),
       TSYRETVAL_SUCCESS},
      {"no RV", area({.rv = false}), TSYRETVAL_CHECKSUM_NOT_FOUND},
      {"RV of length 0",
       area({.read_only_keywords = {vpd_text_keyword("PN", "A"), vpd_text_keyword("RV", "")}, .rv = false}),
       TSYRETVAL_INVALID_LENGTH},
      {"identifier with a bell", area({.identifier = std::string("Vantera\a")}), TSYRETVAL_INVALID_STRING},
      {"identifier with DEL", area({.identifier = std::string("Vantera\x7F")}), TSYRETVAL_INVALID_STRING},
      {"identifier with a high byte", area({.identifier = std::string("Vantera\xE9")}), TSYRETVAL_INVALID_STRING},
      {"identifier with tabs and punctuation", area({.identifier = std::string("A\t~!{}\r\n\v\f")}), TSYRETVAL_SUCCESS},
      {"VPD-W duplicate", area({.read_write = true, .read_write_keywords = {vpd_text_keyword("V1", "a"),
                                                                            vpd_text_keyword("V1", "b")}}),
       TSYRETVAL_DUPLICATE_ITEM},
      {"VPD-W keywords after RW are not taken",
       [] {
         Bytes a = area({.read_write = true, .end_tag = false});
         const Bytes rw = {0x91, 6, 0, 'R', 'W', 0, 'V', '1', 0, 0x78};  // RW first, then an empty V1
         a.insert(a.end(), rw.begin(), rw.end());
         return a;
       }(),
       TSYRETVAL_SUCCESS},
      {"failure in an earlier resource wins", area({.identifier = std::string("\x01"), .rv = false}),
       TSYRETVAL_INVALID_STRING},
      {"large resource head cut off", cut_large, TSYRETVAL_END_TAG_NOT_FOUND},
      {"resource running past the area", Bytes{0x82, 0x10, 0x00, 'a', 'b'}, TSYRETVAL_END_TAG_NOT_FOUND},
      {"keyword running past its resource", Bytes{0x90, 0x04, 0x00, 'P', 'N', 0x05, 'a', 0x78},
       TSYRETVAL_END_TAG_NOT_FOUND},
      {"keyword head cut off", Bytes{0x91, 0x02, 0x00, 'V', '1', 0x78}, TSYRETVAL_END_TAG_NOT_FOUND},
      {"RV running past its resource", Bytes{0x90, 0x03, 0x00, 'R', 'V', 0x02, 0x78}, TSYRETVAL_END_TAG_NOT_FOUND},
      {"unknown resources are skipped", Bytes{0x22, 0xFF, 0xFF, 0x85, 0x01, 0x00, 0x00, 0x78}, TSYRETVAL_SUCCESS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(vpd_validate(c.area), c.status);
  }
}

}  // namespace
