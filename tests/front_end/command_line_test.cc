// The getoption form's argument checks and splitting.
#include "front_end/command_line.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ValueCase {
  const char* argument;
  const char* error;  // nullptr: accepted
  int32_t option;
  int32_t port;
};

const char kNoEquals[] = "Error: Expected '='\n";
const char kNoOption[] = "Error : please specify the option number\n";
const char kNoColon[] = "Error: Expected ':'\n";
const char kNoPort[] = "Error: please specify the port number\n";

const ValueCase kValueCases[] = {
    {"getoption=5:1", nullptr, 5, 1},
    {"getoption=-3:+2", nullptr, -3, 2},
    {"getoption= 7:  9", nullptr, 7, 9},
    {"getoption=abc:x", nullptr, 0, 0},          // text that is not a number reads as 0
    {"getoption=12ab:3cd", nullptr, 12, 3},
    {"getoption==5:1", nullptr, 5, 1},           // the value is the second run of non-'='
    {"getoption=5:1=9:9", nullptr, 5, 1},
    {"getoption=5::1", nullptr, 5, 1},           // the port is the second run of non-':'
    {"getoption=5:1:7", nullptr, 5, 1},
    {"getoption=99999999999:-99999999999", nullptr, 2147483647, -2147483647 - 1},
    {"getoption", kNoEquals, 0, 0},
    {"getoption5:1", kNoEquals, 0, 0},
    {"getoption=", kNoOption, 0, 0},
    {"getoption==", kNoOption, 0, 0},            // "=" after the first one but no value
    {"getoption=5", kNoColon, 0, 0},
    {"getoption=5:", kNoPort, 0, 0},
    {"getoption=:5", kNoPort, 0, 0},             // one run only: it is the option number
    {"getoption=::", kNoPort, 0, 0},
};

TEST(GetoptionValue, ChecksInOrder) {
  for (const ValueCase& c : kValueCases) {
    GetoptionArgs args;
    const char* error = parse_getoption_value(c.argument, &args);
    if (c.error == nullptr) {
      EXPECT_EQ(error, nullptr) << c.argument << ": " << error;
      EXPECT_EQ(args.option_number, c.option) << c.argument;
      EXPECT_EQ(args.port, c.port) << c.argument;
    } else {
      ASSERT_NE(error, nullptr) << c.argument;
      EXPECT_STREQ(error, c.error) << c.argument;
    }
  }
}

TEST(GetoptionValue, ValueMustFitTheBuffer) {
  std::string fits = "getoption=" + std::string(253, '1') + ":2";  // 255 characters
  GetoptionArgs args;
  EXPECT_EQ(parse_getoption_value(fits.c_str(), &args), nullptr);
  EXPECT_EQ(args.port, 2);
  std::string too_long = "getoption=" + std::string(254, '1') + ":2";
  const char* error = parse_getoption_value(too_long.c_str(), &args);
  ASSERT_NE(error, nullptr);
  EXPECT_STREQ(error, "Error: option value too long (at most 255 characters)\n");
}

struct SplitCase {
  const char* argument;
  const char* first;     // the argument after the split
  const char* selector;  // nullptr: none
};

const SplitCase kSplitCases[] = {
    {"-dev=nic1", "-dev", "nic1"},
    {"-dev==nic1", "-dev", "nic1"},
    {"-dev=a=b", "-dev", "a"},
    {"-dev=\"Vantera 25G #2\"", "-dev", "\"Vantera 25G #2\""},
    {"-dev=", "-dev", nullptr},
    {"-dev", "-dev", nullptr},
    {"=-dev=x", "=-dev", "x"},
};

TEST(DeviceArgument, SplitsAtEquals) {
  for (const SplitCase& c : kSplitCases) {
    std::string buffer = c.argument;
    char* selector = split_device_argument(buffer.data());
    EXPECT_STREQ(buffer.c_str(), c.first) << c.argument;
    if (c.selector == nullptr)
      EXPECT_EQ(selector, nullptr) << c.argument;
    else
      EXPECT_STREQ(selector, c.selector) << c.argument;
  }
}

}  // namespace
