// HWRM pass-through and the three firmware requests against the simulated
// driver, including a driver without HwrmPtVb and wrong answers.
#include <gtest/gtest.h>

#include <string>

#include "driver_access/driver_access.h"
#include "tests/driver_access/sim_fixture.h"

namespace {

using drvtest::kAdapter;

const nlohmann::json kNoVb = {{"wmi", {{"missing_methods", {"TSLY_HwDeviceAccess.HwrmPtVb"}}}}};

class HwrmTest : public drvtest::SimTest {};

TEST_F(HwrmTest, FunctionConfigurationFlags) {
  const struct {
    const char* name;
    nlohmann::json firmware;
    int32_t status;
    uint8_t multi_host, multi_root;  // starting from 0xAA each
  } cases[] = {
      {"both flags", {{"func_cfg_flags", 0x2020}}, 0, 1, 1},
      {"multi-host only", {{"func_cfg_flags", 0x0020}}, 0, 1, 0xAA},
      {"none: outputs untouched", {{"func_cfg_flags", 0}}, 0, 0xAA, 0xAA},
      {"response length above the capacity", {{"func_cfg_flags", 0x2020}, {"hwrm_response_length", {{"0x16", 200}}}},
       -9, 0xAA, 0xAA},
      {"response length 0", {{"hwrm_response_length", {{"0x16", 0}}}}, -9, 0xAA, 0xAA},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    load(c.firmware);
    uint8_t host = 0xAA;
    uint8_t root = 0xAA;
    EXPECT_EQ(vrexnvmQueryFuncConfig(kAdapter, &host, &root), c.status);
    EXPECT_EQ(host, c.multi_host);
    EXPECT_EQ(root, c.multi_root);
    // Always the one-array method, never the envelope.
    EXPECT_EQ(calls_of("TSLY_HwDeviceAccess.HwrmPt").size(), 1u);
    EXPECT_TRUE(calls_of("TSLY_HwDeviceAccess.HwrmPtVb").empty());
  }
}

TEST_F(HwrmTest, StatusQueryAndDefragmentation) {
  const struct {
    const char* name;
    nlohmann::json firmware;
    nlohmann::json machine;
    int32_t status;
    uint8_t value;      // starting from 0xAA
    const char* method;
  } cases[] = {
      {"through HwrmPtVb", {{"pending_action", 2}}, nlohmann::json::object(), 0, 2,
       "TSLY_HwDeviceAccess.HwrmPtVb"},
      {"driver without HwrmPtVb", {{"pending_action", 3}}, kNoVb, 0, 3, "TSLY_HwDeviceAccess.HwrmPt"},
      {"firmware error through HwrmPtVb", {{"pending_action", 2}, {"hwrm_error_code", {{"0xC1", 3}, {"0xFFEC", 3}}}},
       nlohmann::json::object(), -41, 0xAA, "TSLY_HwDeviceAccess.HwrmPtVb"},
      {"bad message offset", {{"hwrm_out_message_offset", 20}}, nlohmann::json::object(), -41, 0xAA,
       "TSLY_HwDeviceAccess.HwrmPtVb"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    load(c.firmware, c.machine);
    uint8_t value = 0xAA;
    EXPECT_EQ(vrexnvmFwQueryStatus(kAdapter, true, &value), c.status);
    EXPECT_EQ(value, c.value);
    EXPECT_EQ(calls_of(c.method).size(), 1u);
    machine_->clear_calls();
    EXPECT_EQ(vrexnvmDefrag(kAdapter), c.status);
    ASSERT_EQ(calls_of(c.method).size(), 1u);
    if (std::string(c.method) == "TSLY_HwDeviceAccess.HwrmPtVb") {
      EXPECT_NE(calls_of(c.method)[0].args.find("hwrmptvb_in_length=3:52;hwrmptvb_out_length=3:44;"
                                                "hwrmptvb_in=8209:[52]"),
                std::string::npos)
          << calls_of(c.method)[0].args;
    }
  }
}

TEST_F(HwrmTest, TransportCodes) {
  const uint8_t request[24] = {0xC1, 0x00, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF};
  const struct {
    const char* name;
    nlohmann::json firmware;
    nlohmann::json machine;
    int32_t code;
  } cases[] = {
      {"good", nlohmann::json::object(), nlohmann::json::object(), 0},
      {"message offset 20", {{"hwrm_out_message_offset", 20}}, nlohmann::json::object(), 12},
      {"error code 3", {{"hwrm_error_code", {{"0xC1", 3}}}}, nlohmann::json::object(), 14},
      {"no HwrmPtVb", nlohmann::json::object(), kNoVb, 255},
      {"method fails",
       nlohmann::json::object(),
       {{"faults", {{{"service", "wmi"}, {"call", "exec_method"}, {"key", "HwrmPtVb"}, {"error", "0x80041001"}}}}},
       7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    load(c.firmware, c.machine);
    uint8_t response[16] = {};
    EXPECT_EQ(vrexnvmHwrmPtVb(kAdapter, request, 24, response, 16, nullptr, 0), c.code);
    if (c.code == 14) {
      EXPECT_EQ(response[0], 3);  // the response was copied all the same
    }
    EXPECT_TRUE(calls_of("TSLY_NVRAMAccess.GetNvmLastError").empty());
  }
}

}  // namespace
