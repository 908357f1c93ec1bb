// nvm_options.cc: sizing and sending NVM option requests, the getoption form
// and action, the option file and the two fixed option reads.
#include "front_end/nvm_options.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "front_end/run_settings.h"
#include "front_end/writers.h"
#include "package/package.h"

// ---------------------------------------------------------------------------
// Catalogue lookup.

const NvmOptionEntry* nvm_option_find(std::span<const NvmOptionEntry> catalogue,
                                      uint16_t number) {
  for (const NvmOptionEntry& entry : catalogue) {
    if (entry.number == 0) break;
    if (entry.number == number) return &entry;
  }
  return nullptr;
}

const NvmOptionEntry* nvm_option_find(uint16_t number) {
  return nvm_option_find(nvm_option_catalogue(), number);
}

bool nvm_option_is_multi_instance(const NvmOptionEntry& entry) {
  return entry.option_class == kOptionClassPort || entry.option_class == kOptionClassFunction;
}

bool nvm_option_has_text_value(const NvmOptionEntry& entry) {
  return entry.first_value_name != nullptr &&
         std::strcmp(entry.first_value_name, kOptionTextValue) == 0;
}

// ---------------------------------------------------------------------------
// Sizing.

namespace {

// An instance index names a port or function (0 to the maximum instance
// index) or lies in the range 128 to 256.
bool instance_accepted(uint16_t instance, uint16_t max_instance_index) {
  return instance <= max_instance_index || (instance >= 128 && instance <= 256);
}

}  // namespace

int32_t nvm_option_size(NvmOptionRequest* request, OptionLineWriter writer,
                        std::span<const NvmOptionEntry> catalogue) {
  const NvmOptionEntry* entry = nvm_option_find(catalogue, request->option_num);
  if (entry == nullptr) {
    writer("unsupported nvm option value:%d\n", static_cast<int>(request->option_num));
    return TSYRETVAL_OPTION_NOTSUPPORTED;
  }

  // A multi-instance option spends index 0 on the instance; what remains
  // may select one element of an array option.
  unsigned remaining = request->dimensions;
  uint16_t element_index = request->index[0];
  if (nvm_option_is_multi_instance(*entry)) {
    if (!instance_accepted(request->index[0], request->max_instance_index))
      return TSYRETVAL_OPTION_MULTINSTANCE_FAILURE;
    if (request->dimensions == 0) return TSYRETVAL_INVALID_PARAMETER_VALUE;
    remaining = request->dimensions - 1u;
    element_index = request->index[1];
  }

  uint16_t length = entry->width;
  if (remaining == 1) {
    if (entry->element_width == 0 || element_index >= entry->width / entry->element_width)
      return TSYRETVAL_INVALID_PARAMETER_VALUE;
    length = entry->element_width;
  } else if (remaining > 1) {
    return TSYRETVAL_INVALID_PARAMETER_VALUE;
  }
  request->length = length;
  request->byte_count = static_cast<uint16_t>((length + 7u) / 8u);

  if (request->direction == kOptionDirectionGet) return 0;
  if ((entry->flags & kOptionFlagReadOnly) != 0 && !nvm_option_has_text_value(*entry)) {
    writer("Invalid operation: This is Read-Only NVM option\n");
    return TSYRETVAL_UNSUPPORTED_OPERATION;
  }
  return 0;
}

int32_t nvm_option_size(NvmOptionRequest* request, OptionLineWriter writer) {
  return nvm_option_size(request, writer, nvm_option_catalogue());
}

NvmOptionRequest nvm_option_request(const PhyNic& nic, uint16_t option_number,
                                    uint16_t direction, uint16_t index0) {
  NvmOptionRequest request{};
  request.option_num = option_number;
  request.max_instance_index = kOptionMaxInstanceIndex;
  request.pci_segment = static_cast<uint16_t>(nic.segment);
  request.pci_bus = static_cast<uint16_t>(nic.bus);
  request.pci_device = static_cast<uint16_t>(nic.device);
  request.pci_function = static_cast<uint16_t>(nic.function);
  request.direction = direction;
  request.dimensions = 1;
  request.index[0] = index0;
  return request;
}

// ---------------------------------------------------------------------------
// The getoption form and action.

bool getoption_form(const SupportedAdapter* adapters, size_t count, const char* selector,
                    int32_t port, int32_t option_number) {
  for (size_t k = 0; k < count; ++k) {
    const PhyNic* nic = adapters[k].nic;
    if (nic == nullptr) continue;
    if (std::strncmp(nic->name, selector, sizeof nic->name) == 0 &&
        std::strlen(selector) < sizeof nic->name) {
      getoption_action(*nic, port, option_number);
      return true;
    }
  }
  return false;
}

int32_t getoption_action(const PhyNic& nic, int32_t port, int32_t option_number) {
  // The option number and the port are 16-bit in a request: only their low
  // 16 bits count.
  NvmOptionRequest request = nvm_option_request(nic, static_cast<uint16_t>(option_number),
                                                kOptionDirectionGet,
                                                static_cast<uint16_t>(port));
  // Other refusals leave the request as it stands; the driver decides.
  if (nvm_option_size(&request, console_printf) == TSYRETVAL_OPTION_NOTSUPPORTED)
    return TSYRETVAL_OPTION_NOTSUPPORTED;
  int32_t status = vrexnvmGetNvmOption(nic.name, &request);
  if (status != 0) return status;

  console_printf("%d Option value: ", static_cast<int>(request.option_num));
  console_printf("NUM BYTES: %d\n", static_cast<int>(request.byte_count));
  size_t bytes = request.byte_count < kNvmOptionValueBytes ? request.byte_count
                                                           : kNvmOptionValueBytes;
  for (size_t k = 0; k < bytes; ++k) console_printf("%02x", request.value[k]);
  console_printf("\n");
  return 0;
}

// ---------------------------------------------------------------------------
// The option write.

int32_t nvm_option_write(const PhyNic& nic, uint16_t index0, int32_t option_number,
                         int32_t value, OptionLineWriter writer) {
  NvmOptionRequest request = nvm_option_request(nic, static_cast<uint16_t>(option_number),
                                                kOptionDirectionSet, index0);
  request.staged_value = static_cast<uint32_t>(value);
  if (nvm_option_size(&request, writer) == TSYRETVAL_OPTION_NOTSUPPORTED)
    return TSYRETVAL_OPTION_NOTSUPPORTED;
  // The value has four bytes; an option wider than that gets zeros above
  // them (the request is zero-filled).
  size_t bytes = request.byte_count < 4 ? request.byte_count : 4;
  for (size_t k = 0; k < bytes; ++k)
    request.value[k] = static_cast<uint8_t>(request.staged_value >> (8 * k));
  return vrexnvmSetNvmOption(nic.name, &request);
}

// ---------------------------------------------------------------------------
// The option file.

namespace {

// Longest line read, without its line end.
constexpr size_t kOptionLineMax = 49;

// The sizing lines of an option-file write go to standard output, unless the
// XML report goes there as well: a line in the middle of the report would
// make it unreadable, so they go to the debug stream then.
[[gnu::format(printf, 1, 2)]] void option_file_line(const char* format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::FILE* out = run_settings.out != nullptr ? run_settings.out : stdout;
  if (out == stdout)
    debug_printf("%s", line);
  else
    console_printf("%s", line);
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

bool contains(std::string_view text, std::string_view word) {
  return text.find(word) != std::string_view::npos;
}

// 1 to 9 hexadecimal digits.
bool parse_hex(std::string_view text, uint32_t* value) {
  text = trim(text);
  if (text.empty() || text.size() > 9) return false;
  uint64_t v = 0;
  for (char c : text) {
    unsigned digit;
    if (c >= '0' && c <= '9')
      digit = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f')
      digit = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
      digit = static_cast<unsigned>(c - 'A' + 10);
    else
      return false;
    v = v * 16 + digit;
  }
  *value = v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
  return true;
}

// An optionally signed decimal number that fits 32 bits.
bool parse_decimal(std::string_view text, int32_t* value) {
  text = trim(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty() || text.size() > 10) return false;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (negative) v = -v;
  if (v < INT32_MIN || v > INT32_MAX) return false;
  *value = static_cast<int32_t>(v);
  return true;
}

// "DevID-SSID:[<device id>-<subsystem id>]": both in hexadecimal.
bool parse_section_heading(std::string_view line, uint32_t* device_id, uint32_t* subsys_id) {
  size_t colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  std::string_view rest = trim(line.substr(colon + 1));
  if (!rest.empty() && rest.front() == '[') rest.remove_prefix(1);
  size_t dash = rest.find('-');
  if (dash == std::string_view::npos) return false;
  size_t close = rest.find(']', dash + 1);
  if (close == std::string_view::npos) return false;
  return parse_hex(rest.substr(0, dash), device_id) &&
         parse_hex(rest.substr(dash + 1, close - dash - 1), subsys_id);
}

// "<option number>[<port digit>]: <value>", the number and the value in
// decimal.
bool parse_option_line(std::string_view line, int32_t* option_number, uint16_t* port,
                       int32_t* value) {
  size_t colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  std::string_view key = trim(line.substr(0, colon));
  size_t open = key.find('[');
  if (open == std::string_view::npos || key.size() != open + 3 || key[open + 2] != ']')
    return false;
  char digit = key[open + 1];
  if (digit < '0' || digit > '9') return false;
  if (!parse_decimal(key.substr(0, open), option_number) || *option_number < 0) return false;
  *port = static_cast<uint16_t>(digit - '0');
  return parse_decimal(line.substr(colon + 1), value);
}

// Reads one line of at most kOptionLineMax characters into line (its line
// end, LF or CR LF, dropped). A longer line is read to its end and reported
// through *too_long. False at the end of the file.
bool read_line(std::FILE* file, std::string* line, bool* too_long) {
  line->clear();
  *too_long = false;
  int c;
  bool any = false;
  while ((c = std::fgetc(file)) != EOF) {
    any = true;
    if (c == '\n') break;
    if (line->size() < kOptionLineMax + 1)  // keeps a CR before the LF
      *line += static_cast<char>(c);
    else
      *too_long = true;
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  if (line->size() > kOptionLineMax) *too_long = true;
  return any;
}

}  // namespace

int32_t apply_option_file_at(const PhyNic& nic, const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return -1;

  bool active = false;
  bool flush_port[2] = {false, false};
  std::string line;
  bool too_long = false;
  unsigned line_number = 0;
  while (read_line(file, &line, &too_long)) {
    ++line_number;
    if (too_long) {
      debug_printf("%s:%u: line longer than %u characters skipped\n", path, line_number,
                   static_cast<unsigned>(kOptionLineMax));
      continue;
    }
    std::string_view text(line);
    if (text.empty()) continue;
    if (contains(text, "Nvm") || contains(text, "Device") || contains(text, "Port")) continue;
    if (contains(text, "##")) {
      if (active) break;
      continue;
    }
    if (contains(text, "DevID-SSID")) {
      uint32_t device_id = 0;
      uint32_t subsys_id = 0;
      if (!parse_section_heading(text, &device_id, &subsys_id)) {
        debug_printf("%s:%u: malformed section heading skipped: %s\n", path, line_number,
                     line.c_str());
        continue;
      }
      if (device_id == nic.device_id && subsys_id == nic.subsys_id) active = true;
      continue;
    }
    if (!active) continue;

    int32_t option_number = 0;
    uint16_t port = 0;
    int32_t value = 0;
    if (!parse_option_line(text, &option_number, &port, &value)) {
      debug_printf("%s:%u: malformed option line skipped: %s\n", path, line_number,
                   line.c_str());
      continue;
    }
    int32_t status = nvm_option_write(nic, port, option_number, value, option_file_line);
    debug_printf("%s:%u: option %d[%u] = %d: status %d\n", path, line_number, option_number,
                 static_cast<unsigned>(port), value, status);
    if (status == 0 && port < 2) flush_port[port] = true;
  }
  std::fclose(file);

  NvmOptionRequest dummy{};
  for (bool flush : flush_port) {
    if (!flush) continue;
    int32_t status = vrexnvmFlushNvm(nic.name, &dummy);
    debug_printf("vrexnvmFlushNvm(%s) returned %d\n", nic.name, status);
  }
  return 0;
}

int32_t apply_option_file(const PhyNic& nic) { return apply_option_file_at(nic, kOptionFileName); }

// ---------------------------------------------------------------------------
// Fixed reads.

int32_t read_twin_key(const PhyNic& nic, char* key, size_t key_size) {
  if (key_size > 0) std::memset(key, 0, key_size);
  NvmOptionRequest request = nvm_option_request(nic, 1, kOptionDirectionGet, 0);
  request.length = 64;
  request.byte_count = 8;
  int32_t status = vrexnvmGetNvmOption(nic.name, &request);
  if (status != 0 || key_size == 0) return status;
  const uint8_t* v = request.value;
  std::snprintf(key, key_size, "%x%x%x%x%x%x%x%x", v[0], v[1], v[2], v[3], v[4], v[5], v[6],
                v[7]);
  return 0;
}

int32_t read_secure_soc(const PhyNic& nic, bool* enabled) {
  *enabled = false;
  NvmOptionRequest request = nvm_option_request(nic, 27, kOptionDirectionGet, 0);
  request.dimensions = 0;
  request.length = 1;
  request.byte_count = 1;
  int32_t status = vrexnvmGetNvmOption(nic.name, &request);
  if (status == 0 && request.value[0] != 0) *enabled = true;
  return status;
}
