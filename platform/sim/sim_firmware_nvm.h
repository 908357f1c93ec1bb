// sim_firmware_nvm.h: the simulated adapter firmware behind the driver's WMI
// classes: an NVM of a given capacity with a directory of items, option
// storage with staging, reset and health counters, HWRM answers, and the
// package installation from the update item. One FirmwareUnit per adapter.
//
// Described under the adapter's "firmware" fact (docs/simulated-driver.md);
// what runs change is kept in the machine state section "firmware".
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace plat::sim {

// What GetNvmLastError reports after a failed method.
struct DriverError {
  std::uint16_t req_type = 0;
  std::uint16_t error_code = 0;
  std::uint16_t cmd_error = 0;
};

// Request types the driver names in its last error.
inline constexpr std::uint16_t kReqNvmWrite = 0xFFFE;
inline constexpr std::uint16_t kReqNvmInstallUpdate = 0xFFF3;
inline constexpr std::uint16_t kReqNvmRead = 0xFFFD;
inline constexpr std::uint16_t kReqNvmOption = 0xFFFA;
inline constexpr std::uint16_t kReqUnsupported = 0xFFFF;
// Error codes of the simulated firmware.
inline constexpr std::uint16_t kFwErrInvalidIndex = 2;
inline constexpr std::uint16_t kFwErrOutOfRange = 3;
inline constexpr std::uint16_t kFwErrNoSpace = 4;
inline constexpr std::uint16_t kFwErrFragmented = 5;
inline constexpr std::uint16_t kFwErrExists = 6;
inline constexpr std::uint16_t kFwErrNoUpdate = 7;
inline constexpr std::uint16_t kFwErrAntiRollback = 8;
inline constexpr std::uint16_t kFwErrUnknownOption = 9;
inline constexpr std::uint16_t kFwErrNotSupported = 65535;

struct NvmItem {
  std::uint16_t type = 0;
  std::uint16_t ordinal = 0;
  std::uint16_t ext = 0;
  std::uint16_t attr = 0;
  std::uint32_t allocation = 0;
  std::vector<std::uint8_t> data;  // the valid data bytes (data_length = size)
};

// Result of InstallUpdate when the method itself succeeds.
struct InstallOutcome {
  std::uint8_t result = 0;
  std::uint8_t problem_item = 0xFF;
  std::uint8_t reset_required = 0;
  std::uint32_t installed_items_0 = 0;
  std::uint32_t installed_items_1 = 0;
};

// An option value's key: option number and the four indices.
using OptionKey = std::array<std::uint16_t, 5>;

class FirmwareUnit {
 public:
  // Builds the unit from the adapter's "firmware" facts (may be null) and
  // the adapter's MAC (6 bytes, for option 1).
  FirmwareUnit(const nlohmann::json& facts, std::span<const std::uint8_t> mac);

  // Persisted form of what runs change.
  nlohmann::json to_state() const;
  void load_state(const nlohmann::json& state);

  // ---- NVM directory and items. On failure the error is also kept as the
  // last error. Indexes are positions in the directory listing.
  std::uint32_t dir_entry_length() const { return dir_entry_length_; }
  const std::vector<NvmItem>& items() const { return items_; }
  std::vector<std::uint8_t> directory_bytes() const;
  std::optional<std::uint32_t> create(std::uint16_t type, std::uint16_t ordinal,
                                      std::uint16_t ext, std::uint16_t attr,
                                      std::uint32_t allocation);
  bool read(std::uint32_t index, std::uint32_t offset, std::uint32_t length,
            std::vector<std::uint8_t>* out);
  bool modify(std::uint32_t index, std::uint32_t offset, std::span<const std::uint8_t> data);
  void defragment() { fragmented_ = false; }
  std::uint32_t free_space() const;

  // ---- Options.
  bool get_option(const OptionKey& key, std::uint16_t bits, std::vector<std::uint8_t>* out);
  bool set_option(const OptionKey& key, std::uint16_t bits, std::span<const std::uint8_t> value);
  void flush_options();
  bool factory_defaults(std::uint8_t mode);

  // ---- Firmware state.
  bool reset(std::uint8_t processor_type, std::uint8_t reset_type);
  std::uint32_t reset_count() const { return reset_count_; }
  std::uint32_t health() const { return health_; }
  std::uint32_t sync_images(std::uint32_t actions);
  void set_time(const nlohmann::json& fields) { fw_time_ = fields; }
  // The installed package's version: the override, else the last package
  // line of the log. Empty optional: the property has no value.
  std::optional<std::string> package_version() const;

  // ---- Package installation from the update item.
  bool install_update(std::uint32_t install_type, InstallOutcome* outcome);

  // ---- HWRM: answers one request message; the response bytes.
  std::vector<std::uint8_t> hwrm(std::span<const std::uint8_t> request);
  // Misbehaviour on demand for the pass-through methods, by request type.
  std::optional<std::uint32_t> reported_length(std::uint16_t req_type) const;
  std::optional<std::uint32_t> out_message_offset() const { return out_message_offset_; }

  // ---- Methods made to fail by the description ("fail", "unsupported"):
  // true, with the last error set, when method is one of them.
  bool forced_failure(const std::string& method);
  void fail(std::uint16_t req_type, std::uint16_t error_code, std::uint16_t cmd_error) {
    last_error_ = {req_type, error_code, cmd_error};
  }
  const DriverError& last_error() const { return last_error_; }

 private:
  int find(std::uint16_t type, std::uint16_t ordinal, std::uint16_t ext) const;
  bool place_item(const NvmItem& item, std::uint16_t* error);
  void append_log_line(const std::string& line);
  std::string installed_log_version() const;

  // NVM.
  std::uint32_t capacity_ = 8u << 20;
  std::uint32_t dir_entry_length_ = 24;
  std::vector<NvmItem> items_;
  bool fragmented_ = false;
  // Options (active, staged until flushed, factory).
  std::map<OptionKey, std::vector<std::uint8_t>> options_;
  std::map<OptionKey, std::vector<std::uint8_t>> staged_;
  std::map<OptionKey, std::vector<std::uint8_t>> factory_;
  // Firmware.
  std::uint32_t reset_count_ = 0;
  bool reset_counter_moves_ = true;
  std::uint32_t health_ = 0;
  std::uint32_t sync_status_ = 0x80000000u;
  nlohmann::json fw_time_;
  std::optional<std::string> version_override_;
  bool version_override_set_ = false;
  std::uint8_t pending_action_ = 0;
  std::uint8_t status_byte8_ = 0;
  std::uint16_t func_cfg_flags_ = 0;
  std::map<std::uint16_t, std::uint32_t> reported_length_;
  std::map<std::uint16_t, std::uint16_t> hwrm_error_code_;
  std::optional<std::uint32_t> out_message_offset_;
  // Installation refusals.
  bool anti_rollback_ = false;
  bool write_protected_ = false;
  bool reset_required_ = true;
  std::optional<std::array<std::uint16_t, 3>> failing_item_;
  std::uint8_t failing_result_ = 6;
  std::map<std::string, DriverError> forced_;
  DriverError last_error_;
};

// Compares dotted numeric versions ("226.1.107.0"): -1, 0 or 1. Parts that
// are not numbers compare as text.
int compare_versions(const std::string& a, const std::string& b);

}  // namespace plat::sim
