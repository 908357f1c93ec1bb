// sim_test_util.h: building simulated machines from JSON in tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/sim/machine.h"

namespace plat::sim::testing {

// A machine from JSON text with a private state folder; fails the test on
// a bad description.
inline std::unique_ptr<Machine> machine(const std::string& json) {
  std::string error;
  auto m = Machine::from_json(json, "", &error);
  EXPECT_NE(m, nullptr) << error;
  return m;
}

// A minimal adapter of ours, with extra members appended.
inline std::string our_adapter(const std::string& extra = "") {
  return R"({"description": "Vantera Test Adapter",
             "pci": {"vendor": "0xE7A5", "device": "0x7A81", "subsystem": "0x0211", "revision": "0x11"},
             "location": {"bus": 59, "device": 0, "function": 1},
             "net_cfg_instance_id": "{11111111-2222-3333-4444-555555555555}")" +
         (extra.empty() ? std::string() : ", " + extra) + "}";
}

inline std::string one_adapter(const std::string& extra = "", const std::string& top = "") {
  return R"({"adapters": [)" + our_adapter(extra) + "]" + (top.empty() ? "" : ", " + top) + "}";
}

}  // namespace plat::sim::testing
