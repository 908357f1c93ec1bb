// The getoption form and action, the option write, the option file and the
// fixed option reads, against the simulated driver and firmware.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "driver_access/driver_access.h"
#include "front_end/nvm_options.h"
#include "front_end/run_settings.h"
#include "front_end/writers.h"
#include "tests/front_end/options_sim.h"

namespace {

using optest::contents;

// Options the simulated firmware answers besides 1 (the MAC per function)
// and 27 (secure SoC).
nlohmann::json firmware_options(bool secure_soc = false) {
  return {{"secure_soc", secure_soc},
          {"options",
           {{{"num", 216}, {"index", 1}, {"bits", 16}, {"value", 0x1234}},
            {{"num", 216}, {"index", 0}, {"bits", 16}, {"value", 0x0101}},
            {{"num", 312}, {"index", 20}, {"bits", 8}, {"value", 5}},
            {{"num", 152}, {"index", 0}, {"bits", 1}, {"value", 0}}}}};
}

class OptionsTest : public optest::SimAdapterTest {
 protected:
  void SetUp() override {
    load(firmware_options());
    debug_ = std::tmpfile();
    ASSERT_NE(debug_, nullptr);
    run_settings.debug = debug_;
    run_settings.out = nullptr;
    dir_ = std::filesystem::temp_directory_path() /
           ("vrex-optfile-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    run_settings.debug = nullptr;
    run_settings.out = nullptr;
    if (debug_ != nullptr) std::fclose(debug_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    SimAdapterTest::TearDown();
  }

  // The option's active value (what the firmware flushed) in hexadecimal.
  std::string active(uint16_t number, uint16_t index0, uint16_t bits) {
    NvmOptionRequest r{};
    r.option_num = number;
    r.length = bits;
    r.byte_count = static_cast<uint16_t>((bits + 7) / 8);
    r.dimensions = 1;
    r.index[0] = index0;
    if (vrexnvmGetNvmOption(nic_.name, &r) != 0) return "unreadable";
    std::string hex;
    char two[3];
    for (unsigned k = 0; k < r.byte_count; ++k) {
      std::snprintf(two, sizeof two, "%02x", r.value[k]);
      hex += two;
    }
    return hex;
  }

  std::string write_file(const std::string& text) {
    std::string path = (dir_ / "nvmoptions.cfg").string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  std::string debug_text() { return contents(debug_); }

  std::FILE* debug_ = nullptr;
  std::filesystem::path dir_;
};

TEST_F(OptionsTest, GetoptionActionPrintsTheValue) {
  struct Case {
    int32_t port;
    int32_t option;
    int32_t status;
    const char* printed;
    size_t driver_reads;
  };
  const Case cases[] = {
      {1, 216, 0, "216 Option value: NUM BYTES: 2\n3412\n", 1},
      {0, 1, 0, "1 Option value: NUM BYTES: 8\n021a2b3c4d5e0000\n", 1},
      // The instance check fails and the request goes out with length 0.
      {20, 312, 0, "312 Option value: NUM BYTES: 0\n\n", 1},
      {0, 9999, -130, "unsupported nvm option value:9999\n", 0},
      {0, 70000, -130, "unsupported nvm option value:4464\n", 0},
      // The firmware has no such option: nothing is printed.
      {0, 203, 0, "", 1},
  };
  for (const Case& c : cases) {
    clear_calls();
    ::testing::internal::CaptureStdout();
    int32_t status = getoption_action(nic_, c.port, c.option);
    std::string printed = ::testing::internal::GetCapturedStdout();
    if (c.printed[0] != '\0' || c.status != 0) {
      EXPECT_EQ(status, c.status) << c.option;
    } else {
      EXPECT_NE(status, 0) << "a failed read reports its status";
    }
    EXPECT_EQ(printed, c.printed) << c.option << " port " << c.port;
    auto reads = calls_of("TSLY_NVRAMAccess.GetNvmOpt");
    EXPECT_EQ(reads.size(), c.driver_reads) << c.option;
  }
}

TEST_F(OptionsTest, GetoptionFormSelectsByExactName) {
  PhyNic other = nic_;
  std::snprintf(other.name, sizeof other.name, "%s", "Other adapter");
  SupportedAdapter records[2] = {};
  records[0].nic = &other;
  records[1].nic = &nic_;
  const std::string lower = "tessaly vantera-e 2x25g sfp28 ethernet adapter";
  const std::string prefix = "Tessaly Vantera-E 2x25G";
  struct Case {
    std::string selector;
    bool found;
  };
  const Case cases[] = {{optest::kAdapterName, true}, {lower, false}, {prefix, false},
                        {"", false}};
  for (const Case& c : cases) {
    ::testing::internal::CaptureStdout();
    bool found = getoption_form(records, 2, c.selector.c_str(), 1, 216);
    std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(found, c.found) << c.selector;
    EXPECT_EQ(printed, c.found ? "216 Option value: NUM BYTES: 2\n3412\n" : "") << c.selector;
  }
}

TEST_F(OptionsTest, OptionWriteSendsTheValueBytes) {
  struct Case {
    int32_t option;
    uint16_t index0;
    uint16_t bits;
    int32_t value;
    int32_t status;
    const char* active;  // the value once flushed, "" when nothing is sent
  };
  const Case cases[] = {
      {216, 0, 16, 0x1234, 0, "3412"},
      {216, 0, 16, -1, 0, "ffff"},
      {152, 1, 1, 1, 0, "01"},
      // Wider than the value's four bytes: zeros beyond them.
      {1, 0, 64, 0x12345678, 0, "7856341200000000"},
      {1, 0, 64, -2, 0, "feffffff00000000"},
      {9999, 0, 8, 1, -130, ""},
  };
  for (const Case& c : cases) {
    load(firmware_options());
    EXPECT_EQ(nvm_option_write(nic_, c.index0, c.option, c.value, debug_printf), c.status)
        << c.option;
    auto sets = calls_of("TSLY_NVRAMAccess.SetNvmOpt");
    if (c.active[0] == '\0') {
      EXPECT_TRUE(sets.empty()) << c.option;
      continue;
    }
    EXPECT_EQ(sets.size(), 1u) << c.option;
    NvmOptionRequest dummy{};
    ASSERT_EQ(vrexnvmFlushNvm(nic_.name, &dummy), 0);
    EXPECT_EQ(active(static_cast<uint16_t>(c.option), c.index0, c.bits), c.active) << c.option;
  }
}

TEST_F(OptionsTest, FixedReads) {
  char key[kInstalledTextSize];
  std::memset(key, 'x', sizeof key);
  EXPECT_EQ(read_twin_key(nic_, key, sizeof key), 0);
  EXPECT_STREQ(key, "21a2b3c4d5e00");  // unpadded bytes 02 1a 2b 3c 4d 5e 00 00
  bool enabled = true;
  EXPECT_EQ(read_secure_soc(nic_, &enabled), 0);
  EXPECT_FALSE(enabled);

  load(firmware_options(true));
  EXPECT_EQ(read_secure_soc(nic_, &enabled), 0);
  EXPECT_TRUE(enabled);

  // An adapter the driver does not know: both reads fail and leave nothing.
  std::snprintf(nic_.name, sizeof nic_.name, "%s", "No such adapter");
  EXPECT_NE(read_twin_key(nic_, key, sizeof key), 0);
  EXPECT_STREQ(key, "");
  EXPECT_NE(read_secure_soc(nic_, &enabled), 0);
  EXPECT_FALSE(enabled);
}

TEST_F(OptionsTest, OptionFileAppliesTheAdaptersSection) {
  struct Case {
    const char* what;
    std::string file;
    size_t sets;
    size_t flushes;
    std::string port0;  // 216[0] afterwards
    std::string port1;  // 216[1] afterwards
  };
  const Case cases[] = {
      {"the adapter's section, between other text",
       "Nvm options for this package\n"
       "DevID-SSID:[7a80-0201]\n216[0]: 7\n##\n"
       "DevID-SSID:[7a81-0211]\nPort 0 settings\n216[0]: 7\n\n216[1]: 9\n##\n",
       2, 2, "0700", "0900"},
      {"CR LF lines, upper-case ids",
       "DevID-SSID:[7A81-0211]\r\n\r\n216[0]: 3\r\n216[1]: 4\r\n##\r\n", 2, 2, "0300", "0400"},
      {"no ## line: every line to the end", "DevID-SSID:[7a81-0211]\n216[1]: 4\n216[0]: 5", 2, 2,
       "0500", "0400"},
      {"reading stops at ##", "DevID-SSID:[7a81-0211]\n216[0]: 6\n##\n216[1]: 4\n", 1, 1, "0600",
       "3412"},
      {"## before the section is skipped", "##\nDevID-SSID:[7a81-0211]\n216[1]: 8\n", 1, 1, "0101",
       "0800"},
      {"no section for the adapter", "DevID-SSID:[7a81-0212]\n216[0]: 6\n##\n", 0, 0, "0101",
       "3412"},
      {"a port digit other than 0 and 1 is not flushed", "DevID-SSID:[7a81-0211]\n216[2]: 6\n", 1,
       0, "0101", "3412"},
      {"an unknown option marks nothing",
       "DevID-SSID:[7a81-0211]\n9999[0]: 6\n216[1]: 2\n", 1, 1, "0101", "0200"},
      {"a read-only option still goes to the driver", "DevID-SSID:[7a81-0211]\n4[0]: 1\n", 1, 1,
       "0101", "3412"},
      {"lines outside a section are skipped", "216[0]: 6\nDevID-SSID:[7a81-0211]\n", 0, 0,
       "0101", "3412"},
  };
  for (const Case& c : cases) {
    load(firmware_options());
    std::string path = write_file(c.file);
    EXPECT_EQ(apply_option_file_at(nic_, path.c_str()), 0) << c.what;
    EXPECT_EQ(calls_of("TSLY_NVRAMAccess.SetNvmOpt").size(), c.sets) << c.what;
    EXPECT_EQ(calls_of("TSLY_NVRAMAccess.FlushNvm").size(), c.flushes) << c.what;
    EXPECT_EQ(active(216, 0, 16), c.port0) << c.what;
    EXPECT_EQ(active(216, 1, 16), c.port1) << c.what;
  }
}

TEST_F(OptionsTest, OptionFileRejectsMalformedLines) {
  const char* lines[] = {
      "216: 5",                        // no port
      "216[0] 5",                      // no colon
      "216[x]: 5",                     // port not a digit
      "216[12]: 5",                    // port of two digits
      "216[0]: five",                  // value not a number
      "216[0]:",                       // no value
      "216[0]: 99999999999",           // value beyond 32 bits
      "x216[0]: 5",                    // number not decimal
      "DevID-SSID:7a81",               // heading without "-" and "]"
      "DevID-SSID:[7a81-0211",         // heading without "]"
      "DevID-SSID:[7a81a0b0c0-0211]",  // id of 10 characters
      "DevID-SSID:[7g81-0211]",        // id not hexadecimal
      "216[0]: 5                                             ",  // longer than 49
      "216[1]: 5 ########################################",  // "##" beyond 49 characters
  };
  for (const char* line : lines) {
    load(firmware_options());
    std::fflush(debug_);
    long before = std::ftell(debug_);
    std::string path =
        write_file(std::string("DevID-SSID:[7a81-0211]\n") + line + "\n216[1]: 2\n");
    EXPECT_EQ(apply_option_file_at(nic_, path.c_str()), 0) << line;
    // The line is reported and skipped; the next one still applies.
    std::string debug = debug_text().substr(static_cast<size_t>(before));
    EXPECT_NE(debug.find(":2: "), std::string::npos) << line << "\n" << debug;
    EXPECT_TRUE(debug.find("malformed") != std::string::npos ||
                debug.find("longer than 49") != std::string::npos)
        << line << "\n" << debug;
    EXPECT_EQ(calls_of("TSLY_NVRAMAccess.SetNvmOpt").size(), 1u) << line;
    EXPECT_EQ(active(216, 1, 16), "0200") << line;
    std::fseek(debug_, 0, SEEK_END);
  }
}

TEST_F(OptionsTest, OptionFileLinesStayOutOfAnXmlReportOnStandardOutput) {
  std::string path = write_file("DevID-SSID:[7a81-0211]\n9999[0]: 1\n4[1]: 1\n");
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(apply_option_file_at(nic_, path.c_str()), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  std::string debug = debug_text();
  EXPECT_NE(debug.find("unsupported nvm option value:9999\n"), std::string::npos) << debug;
  EXPECT_NE(debug.find("Invalid operation: This is Read-Only NVM option\n"), std::string::npos);

  // With the report in a file, they go to standard output.
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  run_settings.out = out;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(apply_option_file_at(nic_, path.c_str()), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "unsupported nvm option value:9999\nInvalid operation: This is Read-Only NVM option\n");
  run_settings.out = nullptr;
  EXPECT_EQ(contents(out), "");
  std::fclose(out);
}

TEST_F(OptionsTest, OptionFileInTheCurrentDirectory) {
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir_);
  EXPECT_EQ(apply_option_file(nic_), -1) << "no file";
  EXPECT_TRUE(calls_of("TSLY_NVRAMAccess.SetNvmOpt").empty());
  write_file("DevID-SSID:[7a81-0211]\n216[0]: 7\n");
  EXPECT_EQ(apply_option_file(nic_), 0);
  std::filesystem::current_path(previous);
  EXPECT_EQ(active(216, 0, 16), "0700");
}

}  // namespace
