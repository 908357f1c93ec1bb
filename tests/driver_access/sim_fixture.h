// sim_fixture.h: a simulated machine with one driver-run adapter whose
// firmware facts each test chooses, installed as the platform for the test.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/sim/machine.h"

namespace drvtest {

inline constexpr const char* kAdapter = "Tessaly Vantera-E 2x25G Adapter";

// One adapter of the maker, run by the vrexnd driver.
inline nlohmann::json adapter(const std::string& name, nlohmann::json firmware) {
  nlohmann::json a = {
      {"description", name},
      {"pci", {{"vendor", "0xE7A5"}, {"device", "0x7A81"}, {"subsystem_vendor", "0xE7A5"},
               {"subsystem", "0x0211"}, {"revision", "0x11"}}},
      {"location", {{"segment", 0}, {"bus", 59}, {"device", 0}, {"function", 0}}},
      {"net_cfg_instance_id", "{6A1F3C20-7B1D-4E55-9C0A-3B7E51A0C001}"},
      {"driver", {{"service", "vrexnd"}, {"file", "vrexnd.sys"}, {"version", "238.1.185.0"}}},
      {"mac", "02:1A:2B:3C:4D:5E"},
  };
  if (!firmware.is_null()) a["firmware"] = std::move(firmware);
  return a;
}

class SimTest : public ::testing::Test {
 protected:
  // Builds and installs a fresh machine (state discarded) of one adapter
  // (named kAdapter unless name is given); machine_extra is merged into the
  // description.
  void load(nlohmann::json firmware, nlohmann::json machine_extra = nlohmann::json::object(),
            const std::string& name = kAdapter) {
    nlohmann::json d = {{"adapters", nlohmann::json::array({adapter(name, std::move(firmware))})}};
    d.update(machine_extra);
    if (state_dir_.empty()) {
      std::random_device rd;
      state_dir_ = (std::filesystem::temp_directory_path() /
                    ("vrex-driver-test-" + std::to_string(rd()) + std::to_string(rd())))
                       .string();
    }
    d["state_dir"] = state_dir_;
    description_ = d;
    installed_.reset();
    machine_.reset();
    std::error_code ec;
    std::filesystem::remove_all(state_dir_, ec);
    start();
  }

  // Builds the machine again from the same description and state folder, as
  // a later run of the program would find it.
  void restart() {
    installed_.reset();
    machine_.reset();
    start();
  }

  // The driver methods called since the last clear, as "Class.Method".
  std::vector<plat::sim::CallRecord> driver_calls() const {
    std::vector<plat::sim::CallRecord> out;
    for (const auto& c : machine_->calls()) {
      if (c.service == "driver") out.push_back(c);
    }
    return out;
  }
  std::vector<std::string> driver_methods() const {
    std::vector<std::string> out;
    for (const auto& c : driver_calls()) out.push_back(c.call);
    return out;
  }
  // The calls of one method.
  std::vector<plat::sim::CallRecord> calls_of(const std::string& method) const {
    std::vector<plat::sim::CallRecord> out;
    for (const auto& c : driver_calls()) {
      if (c.call == method) out.push_back(c);
    }
    return out;
  }

  void TearDown() override {
    installed_.reset();
    machine_.reset();
    if (!state_dir_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(state_dir_, ec);
    }
  }

  std::unique_ptr<plat::sim::Machine> machine_;

 private:
  void start() {
    installed_.reset();
    machine_.reset();
    std::string error;
    machine_ = plat::sim::Machine::from_json(description_.dump(), "", &error);
    ASSERT_NE(machine_, nullptr) << error;
    installed_ = machine_->install();
  }

  nlohmann::json description_;
  std::string state_dir_;
  std::unique_ptr<plat::sim::Machine::Installed> installed_;
};

}  // namespace drvtest
