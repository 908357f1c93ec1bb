// options_sim.h: a simulated machine with one of the maker's adapters
// (device 0x7A81, subsystem 0x0211, bus 59, device 0, function 0), installed
// as the platform for a test, and the NIC record that names it.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ndam/ngndam.h"
#include "platform/sim/machine.h"

namespace optest {

inline constexpr const char* kAdapterName = "Tessaly Vantera-E 2x25G SFP28 Ethernet Adapter";

// The whole content of a stdio stream.
inline std::string contents(std::FILE* stream) {
  std::fflush(stream);
  std::rewind(stream);
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, stream)) > 0) text.append(buffer, n);
  return text;
}

class SimAdapterTest : public ::testing::Test {
 protected:
  // A fresh machine whose adapter has these firmware facts.
  void load(nlohmann::json firmware) {
    std::random_device rd;
    state_dir_ = (std::filesystem::temp_directory_path() /
                  ("vrex-options-test-" + std::to_string(rd()) + std::to_string(rd())))
                     .string();
    nlohmann::json adapter = {
        {"description", kAdapterName},
        {"pci", {{"vendor", "0xE7A5"}, {"device", "0x7A81"}, {"subsystem_vendor", "0xE7A5"},
                 {"subsystem", "0x0211"}, {"revision", "0x11"}}},
        {"location", {{"segment", 0}, {"bus", 59}, {"device", 0}, {"function", 0}}},
        {"net_cfg_instance_id", "{6A1F3C20-7B1D-4E55-9C0A-3B7E51A0C001}"},
        {"driver", {{"service", "vrexnd"}, {"file", "vrexnd.sys"}, {"version", "238.1.185.0"}}},
        {"mac", "02:1A:2B:3C:4D:5E"},
        {"firmware", std::move(firmware)},
    };
    nlohmann::json d = {{"adapters", nlohmann::json::array({adapter})},
                        {"state_dir", state_dir_}};
    installed_.reset();
    machine_.reset();
    std::string error;
    machine_ = plat::sim::Machine::from_json(d.dump(), "", &error);
    ASSERT_NE(machine_, nullptr) << error;
    installed_ = machine_->install();

    nic_ = PhyNic{};
    std::snprintf(nic_.name, sizeof nic_.name, "%s", kAdapterName);
    std::snprintf(nic_.description, sizeof nic_.description, "%s", kAdapterName);
    nic_.vendor_id = 0xE7A5;
    nic_.device_id = 0x7A81;
    nic_.subsys_vendor_id = 0xE7A5;
    nic_.subsys_id = 0x0211;
    nic_.bus = 59;
    nic_.nic_type = ngNDAM_NIC_TYPE_VREX;
    nic_.driver_loaded = 1;
  }

  void TearDown() override {
    installed_.reset();
    machine_.reset();
    if (!state_dir_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(state_dir_, ec);
    }
  }

  // The driver calls of one method ("TSLY_NVRAMAccess.SetNvmOpt"), with
  // their arguments, since the last clear.
  std::vector<std::string> calls_of(const std::string& method) const {
    std::vector<std::string> out;
    for (const auto& c : machine_->calls()) {
      if (c.service == "driver" && c.call == method) out.push_back(c.args);
    }
    return out;
  }
  void clear_calls() { machine_->clear_calls(); }

  std::unique_ptr<plat::sim::Machine> machine_;
  PhyNic nic_{};

 private:
  std::string state_dir_;
  std::unique_ptr<plat::sim::Machine::Installed> installed_;
};

}  // namespace optest
