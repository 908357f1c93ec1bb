// The option catalogue's data and the sizing of option requests.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "front_end/nvm_options.h"
#include "package/package.h"

namespace {

std::string g_lines;

[[gnu::format(printf, 1, 2)]] void capture_line(const char* format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  g_lines += line;
}

TEST(OptionCatalogue, HoldsEveryOptionOnceWithItsClass) {
  auto catalogue = nvm_option_catalogue();
  ASSERT_FALSE(catalogue.empty());
  EXPECT_EQ(catalogue.back().number, 0) << "the table ends with number 0";
  std::map<uint16_t, int> per_class;
  std::set<uint16_t> numbers;
  for (const NvmOptionEntry& e : catalogue.first(catalogue.size() - 1)) {
    EXPECT_NE(e.number, 0);
    EXPECT_TRUE(numbers.insert(e.number).second) << "option " << e.number << " listed twice";
    ++per_class[e.option_class];
    if (e.element_width != 0) {
      EXPECT_EQ(e.width % e.element_width, 0) << "option " << e.number;
    }
    EXPECT_NE(e.name, nullptr);
  }
  EXPECT_EQ(numbers.size(), 190u);
  const std::map<uint16_t, int> expected = {{40, 50}, {41, 34}, {42, 40}, {65, 30}, {76, 36}};
  EXPECT_EQ(per_class, expected);
}

TEST(OptionCatalogue, SpotRows) {
  struct Row {
    uint16_t number;
    uint16_t option_class;
    uint16_t width;
    uint8_t element_width;
    bool read_only;
    const char* name;
  };
  const Row rows[] = {
      {666, 40, 1, 0, true, "bifurcation_method"},
      {163, 40, 25, 5, false, "mhb_pf_allocation"},
      {128, 40, 32, 4, false, "qg4_rx_max_rate"},
      {130, 40, 8, 0, false, "qg1_rx_max_rate"},
      {216, 41, 16, 0, false, "autodetect_speed_exclude_mask"},
      {4, 41, 16, 0, true, "vendor_id"},
      {336, 41, 1, 0, false, "xcvr_rate_auto_sense"},
      {1, 42, 64, 0, false, "mac_address"},
      {403, 42, 12, 0, true, "vf_pci_bar2_size"},
      {789, 65, 64, 0, false, "oobm_mac_address_port_3"},
      {796, 65, 12, 0, false, "oobm_vlan_tag_port_3"},
      {1102, 76, 64, 16, true, "afm_rm_tx_l2_ctx_tcam_partitions"},
      {1135, 76, 64, 16, true, "afm_rm_tx_sp_smac_ipv4_rec"},
      {1199, 76, 32, 0, true, "hcapi_rm_prof_id"},
      {1200, 76, 32, 8, true, "hcapi_rm_prof_version"},
  };
  for (const Row& r : rows) {
    const NvmOptionEntry* e = nvm_option_find(r.number);
    ASSERT_NE(e, nullptr) << r.number;
    EXPECT_EQ(e->option_class, r.option_class) << r.number;
    EXPECT_EQ(e->width, r.width) << r.number;
    EXPECT_EQ(e->element_width, r.element_width) << r.number;
    EXPECT_EQ((e->flags & kOptionFlagReadOnly) != 0, r.read_only) << r.number;
    EXPECT_STREQ(e->name, r.name) << r.number;
  }
  for (uint16_t absent : {uint16_t{0}, uint16_t{27}, uint16_t{9999}, uint16_t{4464}})
    EXPECT_EQ(nvm_option_find(absent), nullptr) << absent;
  // Class 65 has no read-only entry, class 76 no writable one.
  for (const NvmOptionEntry& e : nvm_option_catalogue()) {
    if (e.option_class == 65) {
      EXPECT_EQ(e.flags & kOptionFlagReadOnly, 0) << e.number;
    }
    if (e.option_class == 76) {
      EXPECT_NE(e.flags & kOptionFlagReadOnly, 0) << e.number;
    }
  }
}

struct SizingCase {
  const char* what;
  uint16_t option;
  uint16_t direction;
  uint16_t dimensions;
  uint16_t index0;
  uint16_t index1;
  int32_t status;
  uint16_t length;      // 0: left unset
  uint16_t byte_count;
  const char* line;
};

void check(const SizingCase& c, std::span<const NvmOptionEntry> catalogue) {
  NvmOptionRequest r{};
  r.option_num = c.option;
  r.max_instance_index = kOptionMaxInstanceIndex;
  r.direction = c.direction;
  r.dimensions = c.dimensions;
  r.index[0] = c.index0;
  r.index[1] = c.index1;
  g_lines.clear();
  EXPECT_EQ(nvm_option_size(&r, capture_line, catalogue), c.status) << c.what;
  EXPECT_EQ(r.length, c.length) << c.what;
  EXPECT_EQ(r.byte_count, c.byte_count) << c.what;
  EXPECT_EQ(g_lines, c.line) << c.what;
}

constexpr uint16_t GET = kOptionDirectionGet;
constexpr uint16_t SET = kOptionDirectionSet;

TEST(OptionSizing, EveryReturn) {
  const SizingCase cases[] = {
      // Multi-instance: index 0 is the port or function.
      {"port option, port 1", 216, GET, 1, 1, 0, 0, 16, 2, ""},
      {"port 15 is the last port", 216, GET, 1, 15, 0, 0, 16, 2, ""},
      {"port 16", 216, GET, 1, 16, 0, -131, 0, 0, ""},
      {"port 20", 312, GET, 1, 20, 0, -131, 0, 0, ""},
      {"instance 127", 216, GET, 1, 127, 0, -131, 0, 0, ""},
      {"instance 128", 216, GET, 1, 128, 0, 0, 16, 2, ""},
      {"instance 256", 216, GET, 1, 256, 0, 0, 16, 2, ""},
      {"instance 257", 216, GET, 1, 257, 0, -131, 0, 0, ""},
      {"no dimension for the instance", 216, GET, 0, 0, 0, -8, 0, 0, ""},
      {"element index on a plain port option", 216, GET, 2, 0, 0, -8, 0, 0, ""},
      {"function option, 64 bits", 1, GET, 1, 0, 0, 0, 64, 8, ""},
      {"one bit", 151, GET, 1, 3, 0, 0, 1, 1, ""},
      // Other classes: index 0 is the element.
      {"plain option, no index", 938, GET, 0, 0, 0, 0, 8, 1, ""},
      {"plain option with an index", 938, GET, 1, 0, 0, -8, 0, 0, ""},
      {"array, last element", 163, GET, 1, 4, 0, 0, 5, 1, ""},
      {"array, element past the end", 163, GET, 1, 5, 0, -8, 0, 0, ""},
      {"array, whole value", 163, GET, 0, 0, 0, 0, 25, 4, ""},
      {"array of 4-bit elements", 128, GET, 1, 7, 0, 0, 4, 1, ""},
      {"array of 4-bit elements, past the end", 128, GET, 1, 8, 0, -8, 0, 0, ""},
      {"resource array", 1200, GET, 1, 3, 0, 0, 8, 1, ""},
      {"two indices on another class", 163, GET, 2, 0, 0, -8, 0, 0, ""},
      {"management port option, 12 bits", 769, GET, 0, 0, 0, 0, 12, 2, ""},
      // Unknown numbers.
      {"unknown", 9999, GET, 1, 0, 0, -130, 0, 0, "unsupported nvm option value:9999\n"},
      {"70000 as 16 bits", static_cast<uint16_t>(70000), GET, 1, 0, 0, -130, 0, 0,
       "unsupported nvm option value:4464\n"},
      // Read-only applies to a set only, after the length is known.
      {"set read-only", 4, SET, 1, 0, 0, -58, 16, 2,
       "Invalid operation: This is Read-Only NVM option\n"},
      {"get read-only", 4, GET, 1, 0, 0, 0, 16, 2, ""},
      {"set writable", 216, SET, 1, 0, 0, 0, 16, 2, ""},
      {"set read-only resource element", 1102, SET, 1, 0, 0, -58, 16, 2,
       "Invalid operation: This is Read-Only NVM option\n"},
      {"set refused before the read-only test", 4, SET, 1, 16, 0, -131, 0, 0, ""},
  };
  for (const SizingCase& c : cases) check(c, nvm_option_catalogue());
}

// Arrays of a multi-instance class and text values do not occur in the
// catalogue; a small one shows the rules.
TEST(OptionSizing, MultiInstanceArraysAndTextValues) {
  const NvmOptionEntry catalogue[] = {
      {600, 42, 32, 8, 0, nullptr, "per_function_array"},
      {601, 40, 64, 0, kOptionFlagReadOnly, kOptionTextValue, "read_only_text"},
      {602, 40, 64, 0, kOptionFlagReadOnly, "disabled", "read_only_number"},
      {601, 40, 8, 0, 0, nullptr, "second_entry_never_found"},
      {0, 0, 0, 0, 0, nullptr, nullptr},
      {603, 40, 8, 0, 0, nullptr, "after_the_end"},
  };
  const SizingCase cases[] = {
      {"instance and element", 600, GET, 2, 3, 3, 0, 8, 1, ""},
      {"element past the end", 600, GET, 2, 3, 4, -8, 0, 0, ""},
      {"instance only: whole value", 600, GET, 1, 3, 9, 0, 32, 4, ""},
      {"three indices", 600, GET, 3, 3, 0, -8, 0, 0, ""},
      {"set of a read-only text value", 601, SET, 0, 0, 0, 0, 64, 8, ""},
      {"set of a read-only number", 602, SET, 0, 0, 0, -58, 64, 8,
       "Invalid operation: This is Read-Only NVM option\n"},
      {"entries after the end are not seen", 603, GET, 0, 0, 0, -130, 0, 0,
       "unsupported nvm option value:603\n"},
  };
  for (const SizingCase& c : cases) check(c, catalogue);
}

}  // namespace
