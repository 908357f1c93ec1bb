// nvm_options.h: NVM configuration options: the option catalogue, the sizing
// of a request, the getoption form and action, the option write, the option
// file and the two fixed option reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "driver_access/driver_access.h"
#include "front_end/supported_adapter.h"
#include "ndam/ngndam.h"

// ---------------------------------------------------------------------------
// The option catalogue.

// Option classes. 41 and 42 hold one value per port or per function or
// partition (multi-instance); the others hold one value.
inline constexpr uint16_t kOptionClassGeneral = 40;
inline constexpr uint16_t kOptionClassPort = 41;
inline constexpr uint16_t kOptionClassFunction = 42;
inline constexpr uint16_t kOptionClassManagementPort = 65;
inline constexpr uint16_t kOptionClassResourceArray = 76;

inline constexpr uint8_t kOptionFlagReadOnly = 0x10;

// The first value name of an option whose value is text.
inline constexpr const char* kOptionTextValue = "string format";

struct NvmOptionEntry {
  uint16_t number;         // 0 ends the table
  uint16_t option_class;
  uint16_t width;          // bits
  uint8_t element_width;   // bits of one element of an array, 0 for a plain option
  uint8_t flags;           // kOptionFlagReadOnly
  const char* first_value_name;  // kOptionTextValue for a text value, else null
  const char* name;
};

// The catalogue, its end entry (number 0) included.
std::span<const NvmOptionEntry> nvm_option_catalogue();

// The first entry with this number in catalogue (the end entry stops the
// search); null when there is none.
const NvmOptionEntry* nvm_option_find(uint16_t number);
const NvmOptionEntry* nvm_option_find(std::span<const NvmOptionEntry> catalogue, uint16_t number);

bool nvm_option_is_multi_instance(const NvmOptionEntry& entry);
bool nvm_option_has_text_value(const NvmOptionEntry& entry);

// ---------------------------------------------------------------------------
// Requests.

inline constexpr uint16_t kOptionDirectionSet = 1;
inline constexpr uint16_t kOptionDirectionGet = 2;
inline constexpr uint16_t kOptionMaxInstanceIndex = 15;

// Where the sizing's two refusal lines go ("unsupported nvm option value:%d"
// and the read-only line).
using OptionLineWriter = void (*)(const char* format, ...);

// Sizes a request from the catalogue: sets length and byte_count, or returns
// TSYRETVAL_OPTION_NOTSUPPORTED (-130, unknown number),
// TSYRETVAL_OPTION_MULTINSTANCE_FAILURE (-131, instance out of range),
// TSYRETVAL_INVALID_PARAMETER_VALUE (-8, indices that do not fit the option)
// or TSYRETVAL_UNSUPPORTED_OPERATION (-58, a set of a read-only option).
// On -130, -131 and -8 length and byte_count are left as they were.
int32_t nvm_option_size(NvmOptionRequest* request, OptionLineWriter writer);
int32_t nvm_option_size(NvmOptionRequest* request, OptionLineWriter writer,
                        std::span<const NvmOptionEntry> catalogue);

// A zero-filled request for the adapter: option number, maximum instance
// index 15, PCI location, direction, dimensions 1, index 0.
NvmOptionRequest nvm_option_request(const PhyNic& nic, uint16_t option_number,
                                    uint16_t direction, uint16_t index0);

// ---------------------------------------------------------------------------
// Operations.

// The getoption form: runs the getoption action on the first record whose
// adapter name equals selector exactly. False when there is none (nothing
// is printed then).
bool getoption_form(const SupportedAdapter* adapters, size_t count, const char* selector,
                    int32_t port, int32_t option_number);

// Reads one option of the adapter (the port is the instance or the element)
// and prints "<number> Option value: NUM BYTES: <n>" and the value bytes in
// hexadecimal on standard output. Returns the status.
int32_t getoption_action(const PhyNic& nic, int32_t port, int32_t option_number);

// Writes value (its little-endian bytes, as many as the option is wide, at
// most 4) to the option with index 0 = index0. Returns the driver's status,
// or -130 for an unknown option. writer receives the sizing's lines.
int32_t nvm_option_write(const PhyNic& nic, uint16_t index0, int32_t option_number,
                         int32_t value, OptionLineWriter writer);

inline constexpr const char* kOptionFileName = "nvmoptions.cfg";

// Applies the option file "nvmoptions.cfg" in the current directory to the
// adapter (see apply_option_file_at). 0, or -1 when the file cannot be opened.
int32_t apply_option_file(const PhyNic& nic);
// The same for the file at path.
int32_t apply_option_file_at(const PhyNic& nic, const char* path);

// The twin key: option 1 (64 bits) rendered as eight unpadded lower-case
// hexadecimal numbers, one per byte, into key (kInstalledTextSize bytes,
// emptied first). Returns the read's status.
int32_t read_twin_key(const PhyNic& nic, char* key, size_t key_size);

// The secure-SoC check: option 27 (one bit); *enabled becomes true when the
// read succeeds with a nonzero value byte, false otherwise. Returns the
// read's status.
int32_t read_secure_soc(const PhyNic& nic, bool* enabled);
