// PCI device lookup and driver unbind and rebind on the simulated machine.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "front_end/pci_device.h"
#include "front_end/run_settings.h"
#include "ndam/ngndam.h"
#include "platform/sim/machine.h"

namespace {

// Two functions of one adapter on bus 4; more adapters as the test says.
std::string machine_json(const std::string& extra_adapters, const std::string& faults,
                         const std::string& overrides0) {
  return R"({"adapters": [
    {"description": "A", "pci": {"vendor": "0xE7A5", "device": "0x7A81", "subsystem": "0x0211"},
     "location": {"segment": 0, "bus": 4, "device": 0, "function": 0}, "overrides": {)" +
         overrides0 + R"(}},
    {"description": "B", "pci": {"vendor": "0xE7A5", "device": "0x7A81", "subsystem": "0x0211"},
     "location": {"segment": 0, "bus": 4, "device": 0, "function": 1}})" +
         extra_adapters + R"(], "faults": [)" + faults + "]}";
}

class PciDevice : public ::testing::Test {
 protected:
  void load(const std::string& json) {
    std::string error;
    machine_ = plat::sim::Machine::from_json(json, "", &error);
    ASSERT_TRUE(machine_) << error;
    installed_ = machine_->install();
    debug_ = std::tmpfile();
    run_settings.debug = debug_;
  }
  void TearDown() override {
    run_settings.debug = nullptr;
    if (debug_ != nullptr) std::fclose(debug_);
    installed_.reset();
  }
  std::string debug_text() {
    std::string text;
    std::rewind(debug_);
    for (int c; (c = std::fgetc(debug_)) != EOF;) text += static_cast<char>(c);
    return text;
  }
  // The instance id of the device that a lookup found.
  std::string found_instance(uint32_t bus, uint32_t device, uint32_t function) {
    PciDeviceHandle handle;
    if (!find_pci_device(0, bus, device, function, &handle)) return "";
    char id[257] = {};
    machine_->services().devices->get_device_instance_id(handle.set, handle.data, id, 256,
                                                         nullptr);
    close_pci_device(handle);
    return id;
  }

  std::unique_ptr<plat::sim::Machine> machine_;
  std::unique_ptr<plat::sim::Machine::Installed> installed_;
  std::FILE* debug_ = nullptr;
};

TEST_F(PciDevice, FindsByLocationTextElseByBusNumberAndAddress) {
  // Function 0 has no location text: the bus number and address find it.
  load(machine_json("", "", R"("properties": {"SPDRP_LOCATION_INFORMATION": null})"));
  EXPECT_EQ(found_instance(4, 0, 0), machine_->adapters()[0].instance_id);
  EXPECT_EQ(found_instance(4, 0, 1), machine_->adapters()[1].instance_id);
  EXPECT_EQ(found_instance(4, 0, 2), "");
  EXPECT_NE(debug_text().find("Error: PCI device at location 0000:04:00.2 not found.\n"
                              "Searched through all PCI devices. Make sure the device exists "
                              "and is present.\n"),
            std::string::npos);
}

TEST_F(PciDevice, TakesTheFirstOfTwoSegmentsWithTheSameLocation) {
  load(machine_json(R"(,
    {"description": "C", "pci": {"vendor": "0xE7A5", "device": "0x7A81", "subsystem": "0x0211"},
     "location": {"segment": 1, "bus": 4, "device": 0, "function": 0}})",
                    "", ""));
  EXPECT_EQ(found_instance(4, 0, 0), machine_->adapters()[0].instance_id);
}

TEST_F(PciDevice, DisablesAndEnablesEveryFunctionOfTheAdapter) {
  load(machine_json("", "", ""));
  ASSERT_EQ(ngNdamInitialize(216, 0, 41), ngNDAM_OK);
  PhyNic nic{};
  nic.bus = 4;
  EXPECT_EQ(disable_adapter_functions(nic, 2), 0);
  EXPECT_FALSE(machine_->adapter_running(0));
  EXPECT_FALSE(machine_->adapter_running(1));
  EXPECT_EQ(enable_adapter_functions(nic, 2), 0);
  EXPECT_TRUE(machine_->adapter_running(0));
  EXPECT_TRUE(machine_->adapter_running(1));
  ngNdamUninitialize();
  const std::string text = debug_text();
  EXPECT_NE(text.find("Disabled device 0000:04:00.0 successfully\n"
                      "Disabled device 0000:04:00.1 successfully\n"
                      "Disabled 2 PCI device(s) successfully\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Enabled 2 PCI device(s) successfully\n"), std::string::npos) << text;
}

TEST_F(PciDevice, AnUnbindThatStopsPartWayEnablesWhatItDisabled) {
  // The second function refuses the state change.
  load(machine_json("", R"({"service": "devices", "call": "change_state", "nth": 2, "count": 1, "error": 5})", ""));
  ASSERT_EQ(ngNdamInitialize(216, 0, 41), ngNDAM_OK);
  PhyNic nic{};
  nic.bus = 4;
  EXPECT_EQ(disable_adapter_functions(nic, 2), -1);
  EXPECT_TRUE(machine_->adapter_running(0));
  EXPECT_TRUE(machine_->adapter_running(1));
  ngNdamUninitialize();
  const std::string text = debug_text();
  EXPECT_NE(text.find("Warning: Failed to disable device 0000:04:00.1\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("Unbinding failed: Expected 2 devices, but only 1 were disabled\n"
                      "Enabled device 0000:04:00.0 successfully\n"),
            std::string::npos)
      << text;
}

}  // namespace
