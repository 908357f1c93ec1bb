// Escaping and transcoding of report values.
#include "front_end/xml_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
  const char* what;
  std::string value;
  std::string text;       // xml_text
  std::string attribute;  // xml_attribute
};

const Case kCases[] = {
    {"plain ASCII stays byte for byte", "Vantera 25G (port 1) v22.1.0.0", "Vantera 25G (port 1) v22.1.0.0",
     "Vantera 25G (port 1) v22.1.0.0"},
    {"empty", "", "", ""},
    {"markup", "a&b<c>d", "a&amp;b&lt;c&gt;d", "a&amp;b&lt;c&gt;d"},
    {"entity-looking text is escaped again", "&amp;", "&amp;amp;", "&amp;amp;"},
    {"quote only in attributes", "say \"hi\" 'x'", "say \"hi\" 'x'", "say &quot;hi&quot; 'x'"},
    {"whitespace kept in text, referenced in attributes", "a\tb\nc", "a\tb\nc", "a&#9;b&#10;c"},
    {"carriage return always referenced", "a\r\n", "a&#13;\n", "a&#13;&#10;"},
    {"C0 controls replaced", std::string("a\x01\x1f" "b\0c", 6), "a\xEF\xBF\xBD\xEF\xBF\xBD" "b\xEF\xBF\xBD" "c",
     "a\xEF\xBF\xBD\xEF\xBF\xBD" "b\xEF\xBF\xBD" "c"},
    {"DEL is a character", "\x7f", "\x7f", "\x7f"},
    {"Latin-1 range to two bytes", "\xe9\xa0\xff", "\xC3\xA9\xC2\xA0\xC3\xBF", "\xC3\xA9\xC2\xA0\xC3\xBF"},
    {"code page 1252 specials", "\x80\x99\x9f", "\xE2\x82\xAC\xE2\x84\xA2\xC5\xB8", "\xE2\x82\xAC\xE2\x84\xA2\xC5\xB8"},
    {"undefined code page bytes replaced", "\x81\x8d\x8f\x90\x9d",
     "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD",
     "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"mixed", "x&<\xe9>\"", "x&amp;&lt;\xC3\xA9&gt;\"", "x&amp;&lt;\xC3\xA9&gt;&quot;"},
};

TEST(XmlText, EscapesAndTranscodes) {
  for (const Case& c : kCases) {
    EXPECT_EQ(xml_text(c.value), c.text) << c.what;
    EXPECT_EQ(xml_attribute(c.value), c.attribute) << c.what;
  }
}

// Every byte value gives well-formed UTF-8 without a raw markup character.
TEST(XmlText, EveryByteGivesSafeUtf8) {
  for (int b = 0; b < 256; ++b) {
    std::string out = xml_attribute(std::string(1, static_cast<char>(b)));
    ASSERT_FALSE(out.empty()) << b;
    const auto lead = static_cast<unsigned char>(out[0]);
    size_t expected = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : 3;
    if (out[0] == '&') {
      EXPECT_EQ(out.back(), ';') << b;
      continue;
    }
    EXPECT_EQ(out.size(), expected) << b;
    for (size_t i = 1; i < out.size(); ++i)
      EXPECT_EQ(static_cast<unsigned char>(out[i]) & 0xC0, 0x80) << b;
    EXPECT_TRUE(out.find_first_of("<>&\"") == std::string::npos) << b;
  }
}

}  // namespace
