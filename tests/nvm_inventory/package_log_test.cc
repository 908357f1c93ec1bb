// The package log parse: which line and field answer, what is padding.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nvm_inventory/nvm_inventory.h"

namespace {

struct ParseCase {
  const char* name;
  std::string log;
  unsigned field;
  bool found;
  std::string expected;
};

std::vector<uint8_t> bytes_of(const std::string& s) { return {s.begin(), s.end()}; }

TEST(PackageLogParse, Table) {
  const std::string ff(40, '\xFF');
  const ParseCase cases[] = {
      {"last line wins", "t0\tA\t1.0\tT1\nt1\tB\t2.0\tT2\n", 2, true, "2.0"},
      {"patch line passed over", "t0\tA\t1.0\tT1\nt1\tFW Patch 3\t9.9\tT9\n", 2, true, "1.0"},
      {"patch line passed over for description", "t0\tA\t1.0\tT1\nt1\tPatch\t9.9\tT9\n", 1, true, "A"},
      {"DAZA Programmer passed over", "t0\tA\t1.0\tT1\nt1\tDAZA Programmer\t9.9\tT9\n", 3, true, "T1"},
      {"case matters", "t0\tA\t1.0\tT1\nt1\tpatch\t9.9\tT9\n", 2, true, "9.9"},
      {"trailing 0xFF ignored", "t0\tA\t1.0\tT1\nt1\tB\t2.0\tT2" + ff, 3, true, "T2"},
      {"trailing zeros ignored", std::string("t0\tA\t1.0\tT1\n\0\0\0", 15), 3, true, "T1"},
      {"short last line: version from it", "t0\tA\t1.0\tT1\nt1\tB\t2.0\n", 2, true, "2.0"},
      {"short last line: timestamp from before", "t0\tA\t1.0\tT1\nt1\tB\t2.0\n", 3, true, "T1"},
      {"empty line keeps the answer", "t0\tA\t1.0\tT1\n\n", 2, true, "1.0"},
      {"empty field is a field", "t0\tA\t\tT1\n", 2, true, ""},
      {"carriage return belongs to the field", "t0\tA\t1.0\tT1\r\n", 3, true, "T1\r"},
      {"no line long enough", "t0\tA\n", 2, false, ""},
      {"only padding", ff, 1, false, ""},
      {"nothing", "", 1, false, ""},
      {"field cut to 255", "t\tA\t" + std::string(300, 'v') + "\n", 2, true, std::string(255, 'v')},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> log = bytes_of(c.log);
    std::string_view out = "untouched";
    EXPECT_EQ(package_log_field(log, c.field, &out), c.found);
    if (c.found) {
      EXPECT_EQ(std::string(out), c.expected);
    }
  }
}

}  // namespace
