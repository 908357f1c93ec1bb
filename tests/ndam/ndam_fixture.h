// ndam_fixture.h: a simulated machine built from JSON for the library's
// tests, with its configuration file, its log file and the NIC records.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ndam/ngndam.h"
#include "platform/sim/machine.h"

namespace ndam_test {

using nlohmann::json;

inline constexpr const char* kConfigPath =
    "C:\\ProgramData\\Tessaly\\Rovi Vozi\\config\\mgmtapps.conf";
inline constexpr const char* kLogPath = "C:\\ProgramData\\Tessaly\\Rovi Vozi\\log\\ngndam.log";
inline constexpr const char* kLogFolder = "C:\\ProgramData\\Tessaly\\Rovi Vozi\\log";

// An adapter of the later family (device 0x7A81) on PCI bus `bus`.
inline json Adapter(std::uint16_t device = 0x7A81, std::uint16_t vendor = 0xE7A5) {
  return json{{"pci", {{"vendor", vendor}, {"device", device}, {"subsystem", 0x0101}}}};
}

inline json MachineOf(std::vector<json> adapters) {
  return json{{"adapters", adapters}};
}

std::uint32_t Init();

class NdamTest : public ::testing::Test {
 protected:
  void TearDown() override {
    // Whatever a test left initialised is given back before its machine goes.
    for (int i = 0; i < 8; ++i) ngNdamUninitialize();
    installed_.reset();
    machine_.reset();
  }

  // Builds and installs a machine (its state in a private folder).
  void Load(const json& description) {
    installed_.reset();
    std::string error;
    machine_ = plat::sim::Machine::from_json(description.dump(), "", &error);
    ASSERT_NE(machine_, nullptr) << error;
    installed_ = machine_->install();
  }

  // Writes the library's configuration file on the machine.
  void WriteConfig(const std::string& text) {
    std::filesystem::path host = machine_->host_path(kConfigPath);
    std::filesystem::create_directories(host.parent_path());
    std::ofstream(host, std::ios::binary) << text;
  }

  // Switches logging on at every level.
  void LogAll() { WriteConfig("ngndam 1\n"); }

  bool LogExists() const { return std::filesystem::exists(machine_->host_path(kLogPath)); }
  bool LogFolderExists() const {
    return std::filesystem::exists(machine_->host_path(kLogFolder));
  }
  std::string Log() const {
    std::ifstream in(machine_->host_path(kLogPath), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  static std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
      ++n;
    }
    return n;
  }

  // Initialises the library and reads every record.
  std::vector<PhyNic> Records() {
    std::vector<PhyNic> records;
    std::uint32_t n = 0;
    if (ngNdamGetNumPhyNic(&n) != ngNDAM_OK || n == 0) return records;
    records.resize(n);
    EXPECT_EQ(ngNdamGetAllPhyNic(records.data(), n), ngNDAM_OK);
    return records;
  }
  // Initialises on a machine of one adapter and gives its record.
  PhyNic OneRecord(const json& adapter) {
    Load(MachineOf({adapter}));
    EXPECT_EQ(Init(), ngNDAM_OK);
    std::vector<PhyNic> records = Records();
    EXPECT_EQ(records.size(), 1u);
    return records.empty() ? PhyNic{} : records[0];
  }

  // Calls of the machine's call record with that service and call whose
  // arguments contain part.
  std::size_t Calls(const std::string& service, const std::string& call,
                    const std::string& part = "") const {
    std::size_t n = 0;
    for (const auto& c : machine_->calls()) {
      if (c.service == service && c.call == call && c.args.find(part) != std::string::npos) ++n;
    }
    return n;
  }

  std::unique_ptr<plat::sim::Machine> machine_;
  std::unique_ptr<plat::sim::Machine::Installed> installed_;
};

inline std::uint32_t Init() {
  return ngNdamInitialize(ngNDAM_VERSION_MAJOR, ngNDAM_VERSION_MINOR, ngNDAM_VERSION_BUILD);
}

}  // namespace ndam_test
