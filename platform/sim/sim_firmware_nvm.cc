// sim_firmware_nvm.cc: the simulated firmware's NVM, options, counters, HWRM
// answers and package installation.
#include "platform/sim/sim_firmware_nvm.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "package/package.h"

namespace plat::sim {
namespace {

constexpr std::uint32_t kAllocationUnit = 4096;
constexpr std::uint16_t kPackageLogType = 1;
constexpr std::uint16_t kUpdateType = 2;

std::uint32_t round_up(std::uint64_t n) {
  const std::uint64_t r = (n + kAllocationUnit - 1) / kAllocationUnit * kAllocationUnit;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(r, UINT32_MAX));
}

void store16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void store32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint16_t load16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

// Hex text of bytes and back (state and facts).
std::string to_hex(std::span<const std::uint8_t> bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  s.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    s.push_back(digits[b >> 4]);
    s.push_back(digits[b & 15]);
  }
  return s;
}
int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
std::vector<std::uint8_t> from_hex(const std::string& s) {
  std::vector<std::uint8_t> out;
  out.reserve(s.size() / 2);
  int high = -1;
  for (char c : s) {
    const int d = hex_digit(c);
    if (d < 0) continue;  // separators are allowed
    if (high < 0) {
      high = d;
    } else {
      out.push_back(static_cast<std::uint8_t>(high << 4 | d));
      high = -1;
    }
  }
  return out;
}

// Base64 for item data in the state file (compact for large items).
std::string to_base64(std::span<const std::uint8_t> in) {
  static const char t[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((in.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    const std::uint32_t v = std::uint32_t{in[i]} << 16 | std::uint32_t{in[i + 1]} << 8 | in[i + 2];
    out.push_back(t[v >> 18]);
    out.push_back(t[(v >> 12) & 63]);
    out.push_back(t[(v >> 6) & 63]);
    out.push_back(t[v & 63]);
  }
  if (i < in.size()) {
    std::uint32_t v = std::uint32_t{in[i]} << 16;
    if (i + 1 < in.size()) v |= std::uint32_t{in[i + 1]} << 8;
    out.push_back(t[v >> 18]);
    out.push_back(t[(v >> 12) & 63]);
    out.push_back(i + 1 < in.size() ? t[(v >> 6) & 63] : '=');
    out.push_back('=');
  }
  return out;
}
std::vector<std::uint8_t> from_base64(const std::string& s) {
  std::vector<std::uint8_t> out;
  out.reserve(s.size() / 4 * 3);
  std::uint32_t v = 0;
  int bits = 0;
  for (char c : s) {
    int d;
    if (c >= 'A' && c <= 'Z') d = c - 'A';
    else if (c >= 'a' && c <= 'z') d = c - 'a' + 26;
    else if (c >= '0' && c <= '9') d = c - '0' + 52;
    else if (c == '+') d = 62;
    else if (c == '/') d = 63;
    else continue;
    v = v << 6 | static_cast<std::uint32_t>(d);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<std::uint8_t>(v >> bits));
    }
  }
  return out;
}

// A number fact: a JSON number, or a text in decimal or "0x" hexadecimal.
// Anything else (a malformed text included) is the fallback.
std::uint64_t json_u64(const nlohmann::json& j, const char* key, std::uint64_t fallback) {
  if (!j.is_object() || !j.contains(key)) return fallback;
  const auto& v = j[key];
  if (v.is_number_unsigned() || v.is_number_integer()) return v.get<std::uint64_t>();
  if (v.is_string()) {
    const std::string text = v.get<std::string>();
    char* end = nullptr;
    const unsigned long long n = std::strtoull(text.c_str(), &end, 0);
    if (!text.empty() && end != nullptr && *end == '\0') return n;
  }
  return fallback;
}
std::uint32_t json_u32(const nlohmann::json& j, const char* key, std::uint32_t fallback) {
  return static_cast<std::uint32_t>(json_u64(j, key, fallback));
}
bool json_bool(const nlohmann::json& j, const char* key, bool fallback) {
  return j.is_object() && j.contains(key) && j[key].is_boolean() ? j[key].get<bool>() : fallback;
}

// The data of an item given in the facts: "text", "hex", or "fill".
std::vector<std::uint8_t> fact_data(const nlohmann::json& item) {
  std::vector<std::uint8_t> data;
  if (item.contains("text")) {
    const std::string t = item["text"].get<std::string>();
    data.assign(t.begin(), t.end());
  } else if (item.contains("hex")) {
    data = from_hex(item["hex"].get<std::string>());
  }
  if (item.contains("fill")) {
    const auto& f = item["fill"];
    data.insert(data.end(), json_u32(f, "length", 0),
                static_cast<std::uint8_t>(json_u32(f, "byte", 0xFF)));
  }
  return data;
}

OptionKey option_key(const nlohmann::json& o) {
  OptionKey k{};
  k[0] = static_cast<std::uint16_t>(json_u32(o, "num", 0));
  if (o.contains("index")) {
    const auto& ix = o["index"];
    if (ix.is_array()) {
      for (size_t i = 0; i < ix.size() && i < 4; ++i) k[i + 1] = ix[i].get<std::uint16_t>();
    } else {
      k[1] = ix.get<std::uint16_t>();
    }
  }
  return k;
}

std::string key_text(const OptionKey& k) {
  return std::to_string(k[0]) + ":" + std::to_string(k[1]) + ":" + std::to_string(k[2]) + ":" +
         std::to_string(k[3]) + ":" + std::to_string(k[4]);
}
OptionKey key_from_text(const std::string& s) {
  OptionKey k{};
  size_t pos = 0;
  for (size_t i = 0; i < 5 && pos <= s.size(); ++i) {
    k[i] = static_cast<std::uint16_t>(std::stoul(s.substr(pos)));
    const size_t colon = s.find(':', pos);
    if (colon == std::string::npos) break;
    pos = colon + 1;
  }
  return k;
}

nlohmann::json options_json(const std::map<OptionKey, std::vector<std::uint8_t>>& m) {
  nlohmann::json j = nlohmann::json::object();
  for (const auto& [k, v] : m) j[key_text(k)] = to_hex(v);
  return j;
}
std::map<OptionKey, std::vector<std::uint8_t>> options_from(const nlohmann::json& j) {
  std::map<OptionKey, std::vector<std::uint8_t>> m;
  if (!j.is_object()) return m;
  for (auto it = j.begin(); it != j.end(); ++it) m[key_from_text(it.key())] = from_hex(it.value());
  return m;
}

// Splits text into lines (a last line without its line feed counts).
std::vector<std::string> log_lines(const std::vector<std::uint8_t>& data) {
  size_t end = data.size();
  while (end > 0 && (data[end - 1] == 0x00 || data[end - 1] == 0xFF)) --end;
  std::vector<std::string> lines;
  std::string line;
  for (size_t i = 0; i < end; ++i) {
    if (data[i] == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line.push_back(static_cast<char>(data[i]));
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}
std::vector<std::string> split_tabs(const std::string& line) {
  std::vector<std::string> f;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    f.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  return f;
}

std::string property_text(std::span<const std::uint8_t> view, std::uint8_t tag) {
  const int32_t stream_length = package_property_stream(view);
  if (stream_length < 0 || view.size() < 12 + static_cast<size_t>(stream_length)) return {};
  char text[256] = {};
  const int32_t n = package_get_property(view.subspan(12, static_cast<size_t>(stream_length)), tag,
                                         text, sizeof text - 1);
  return n < 0 ? std::string() : std::string(text);
}

}  // namespace

int compare_versions(const std::string& a, const std::string& b) {
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() || j < b.size()) {
    const size_t ea = std::min(a.find('.', i), a.size());
    const size_t eb = std::min(b.find('.', j), b.size());
    const std::string pa = i < a.size() ? a.substr(i, ea - i) : "0";
    const std::string pb = j < b.size() ? b.substr(j, eb - j) : "0";
    const bool na = !pa.empty() && std::all_of(pa.begin(), pa.end(), ::isdigit);
    const bool nb = !pb.empty() && std::all_of(pb.begin(), pb.end(), ::isdigit);
    if (na && nb) {
      const unsigned long long va = std::stoull(pa.substr(0, 18));
      const unsigned long long vb = std::stoull(pb.substr(0, 18));
      if (va != vb) return va < vb ? -1 : 1;
    } else if (pa != pb) {
      return pa < pb ? -1 : 1;
    }
    i = ea + 1;
    j = eb + 1;
  }
  return 0;
}

FirmwareUnit::FirmwareUnit(const nlohmann::json& facts, std::span<const std::uint8_t> mac) {
  const nlohmann::json f = facts.is_object() ? facts : nlohmann::json::object();
  capacity_ = json_u32(f, "nvm_size", capacity_);
  dir_entry_length_ = json_u32(f, "dir_entry_length", dir_entry_length_);
  fragmented_ = json_bool(f, "fragmented", false);
  if (f.contains("items")) {
    for (const auto& it : f["items"]) {
      NvmItem item;
      item.type = static_cast<std::uint16_t>(json_u32(it, "type", 0));
      item.ordinal = static_cast<std::uint16_t>(json_u32(it, "ordinal", 0));
      item.ext = static_cast<std::uint16_t>(json_u32(it, "ext", 0));
      item.attr = static_cast<std::uint16_t>(json_u32(it, "attr", 0));
      item.data = fact_data(it);
      item.allocation = json_u32(it, "allocation", round_up(std::max<size_t>(item.data.size(), 1)));
      if (item.data.size() > item.allocation) item.data.resize(item.allocation);
      items_.push_back(std::move(item));
    }
  }
  if (f.contains("package_log") && find(kPackageLogType, 0, 0) < 0) {
    NvmItem log;
    log.type = kPackageLogType;
    std::string text;
    for (const auto& line : f["package_log"]) text += line.get<std::string>() + "\n";
    log.data.assign(text.begin(), text.end());
    log.data.insert(log.data.end(), json_u32(f, "package_log_padding", 0), 0xFF);
    log.allocation = json_u32(f, "package_log_allocation", round_up(std::max<size_t>(log.data.size(), 4096)));
    items_.insert(items_.begin(), std::move(log));
  }
  if (f.contains("package_version")) {
    version_override_set_ = true;
    if (f["package_version"].is_string()) version_override_ = f["package_version"].get<std::string>();
  }
  // Options: 27 (secure SoC, one bit) and 1 (MAC per function) always answer.
  factory_[OptionKey{27, 0, 0, 0, 0}] = {static_cast<std::uint8_t>(json_bool(f, "secure_soc", false))};
  for (std::uint16_t fn = 0; fn < 16 && mac.size() == 6; ++fn) {
    std::vector<std::uint8_t> m(mac.begin(), mac.end());
    m[5] = static_cast<std::uint8_t>(m[5] + fn);
    m.resize(8, 0);
    factory_[OptionKey{1, fn, 0, 0, 0}] = m;
  }
  if (f.contains("options")) {
    for (const auto& o : f["options"]) {
      std::vector<std::uint8_t> v;
      if (o.contains("hex")) {
        v = from_hex(o["hex"].get<std::string>());
      } else {
        const std::uint64_t value = json_u64(o, "value", 0);
        const std::uint32_t bits = json_u32(o, "bits", 8);
        for (std::uint32_t i = 0; i < (bits + 7) / 8 && i < 8; ++i) {
          v.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        }
      }
      factory_[option_key(o)] = v;
    }
  }
  options_ = factory_;
  reset_count_ = json_u32(f, "reset_count", 0);
  reset_counter_moves_ = json_bool(f, "reset_counter_moves", true);
  health_ = json_u32(f, "health", 0);
  sync_status_ = json_u32(f, "sync_status", 0x80000000u);
  pending_action_ = static_cast<std::uint8_t>(json_u32(f, "pending_action", 0));
  status_byte8_ = static_cast<std::uint8_t>(json_u32(f, "status_byte8", 0));
  func_cfg_flags_ = static_cast<std::uint16_t>(json_u32(f, "func_cfg_flags", 0));
  if (f.contains("hwrm_response_length")) {
    for (auto it = f["hwrm_response_length"].begin(); it != f["hwrm_response_length"].end(); ++it) {
      reported_length_[static_cast<std::uint16_t>(std::stoul(it.key(), nullptr, 0))] = it.value().get<std::uint32_t>();
    }
  }
  if (f.contains("hwrm_error_code")) {
    for (auto it = f["hwrm_error_code"].begin(); it != f["hwrm_error_code"].end(); ++it) {
      hwrm_error_code_[static_cast<std::uint16_t>(std::stoul(it.key(), nullptr, 0))] = it.value().get<std::uint16_t>();
    }
  }
  if (f.contains("hwrm_out_message_offset")) out_message_offset_ = json_u32(f, "hwrm_out_message_offset", 0);
  anti_rollback_ = json_bool(f, "anti_rollback", false);
  write_protected_ = json_bool(f, "write_protected", false) || json_bool(f, "lockdown", false);
  reset_required_ = json_bool(f, "reset_required", true);
  if (f.contains("failing_item")) {
    const auto& fi = f["failing_item"];
    failing_item_ = std::array<std::uint16_t, 3>{static_cast<std::uint16_t>(json_u32(fi, "type", 0)),
                                                 static_cast<std::uint16_t>(json_u32(fi, "ordinal", 0)),
                                                 static_cast<std::uint16_t>(json_u32(fi, "ext", 0))};
    failing_result_ = static_cast<std::uint8_t>(json_u32(fi, "result", 6));
  }
  if (f.contains("unsupported")) {
    for (const auto& m : f["unsupported"]) {
      forced_[m.get<std::string>()] = {kReqUnsupported, kFwErrNotSupported, 0};
    }
  }
  if (f.contains("fail") && f["fail"].is_object()) {
    for (auto it = f["fail"].begin(); it != f["fail"].end(); ++it) {
      const auto& e = it.value();
      forced_[it.key()] = {static_cast<std::uint16_t>(json_u32(e, "req_type", 0)),
                           static_cast<std::uint16_t>(json_u32(e, "error_code", 0)),
                           static_cast<std::uint16_t>(json_u32(e, "cmd_error", 0))};
    }
  }
}

nlohmann::json FirmwareUnit::to_state() const {
  nlohmann::json s;
  nlohmann::json items = nlohmann::json::array();
  for (const NvmItem& it : items_) {
    items.push_back({{"type", it.type}, {"ordinal", it.ordinal}, {"ext", it.ext}, {"attr", it.attr},
                     {"allocation", it.allocation}, {"data", to_base64(it.data)}});
  }
  s["items"] = std::move(items);
  s["fragmented"] = fragmented_;
  s["options"] = options_json(options_);
  s["staged"] = options_json(staged_);
  s["reset_count"] = reset_count_;
  s["health"] = health_;
  s["pending_action"] = pending_action_;
  s["fw_time"] = fw_time_;
  s["last_error"] = {last_error_.req_type, last_error_.error_code, last_error_.cmd_error};
  return s;
}

void FirmwareUnit::load_state(const nlohmann::json& s) {
  if (!s.is_object()) return;
  if (s.contains("items")) {
    items_.clear();
    for (const auto& it : s["items"]) {
      NvmItem item;
      item.type = it["type"].get<std::uint16_t>();
      item.ordinal = it["ordinal"].get<std::uint16_t>();
      item.ext = it["ext"].get<std::uint16_t>();
      item.attr = it["attr"].get<std::uint16_t>();
      item.allocation = it["allocation"].get<std::uint32_t>();
      item.data = from_base64(it["data"].get<std::string>());
      items_.push_back(std::move(item));
    }
  }
  fragmented_ = s.value("fragmented", fragmented_);
  if (s.contains("options")) options_ = options_from(s["options"]);
  if (s.contains("staged")) staged_ = options_from(s["staged"]);
  reset_count_ = s.value("reset_count", reset_count_);
  health_ = s.value("health", health_);
  pending_action_ = s.value("pending_action", pending_action_);
  if (s.contains("fw_time")) fw_time_ = s["fw_time"];
  if (s.contains("last_error") && s["last_error"].is_array() && s["last_error"].size() == 3) {
    last_error_ = {s["last_error"][0].get<std::uint16_t>(), s["last_error"][1].get<std::uint16_t>(),
                   s["last_error"][2].get<std::uint16_t>()};
  }
}

bool FirmwareUnit::forced_failure(const std::string& method) {
  auto it = forced_.find(method);
  if (it == forced_.end()) return false;
  last_error_ = it->second;
  return true;
}

int FirmwareUnit::find(std::uint16_t type, std::uint16_t ordinal, std::uint16_t ext) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    const NvmItem& it = items_[i];
    if (it.type == type && it.ordinal == ordinal && it.ext == ext) return static_cast<int>(i);
  }
  return -1;
}

std::uint32_t FirmwareUnit::free_space() const {
  std::uint64_t used = 0;
  for (const NvmItem& it : items_) used += it.allocation;
  return used >= capacity_ ? 0 : static_cast<std::uint32_t>(capacity_ - used);
}

std::vector<std::uint8_t> FirmwareUnit::directory_bytes() const {
  std::vector<std::uint8_t> out(items_.size() * dir_entry_length_, 0);
  std::uint32_t location = 0;
  for (size_t i = 0; i < items_.size(); ++i) {
    const NvmItem& it = items_[i];
    std::uint8_t e[24] = {};
    store16(e + 0, it.type);
    store16(e + 2, it.ordinal);
    store16(e + 4, it.ext);
    store16(e + 6, it.attr);
    store32(e + 8, location);
    store32(e + 12, it.allocation);
    store32(e + 16, static_cast<std::uint32_t>(it.data.size()));
    std::memcpy(out.data() + i * dir_entry_length_, e, std::min<std::uint32_t>(24, dir_entry_length_));
    location += it.allocation;
  }
  return out;
}

std::optional<std::uint32_t> FirmwareUnit::create(std::uint16_t type, std::uint16_t ordinal,
                                                  std::uint16_t ext, std::uint16_t attr,
                                                  std::uint32_t allocation) {
  // Creating an item that exists replaces it (its data is discarded), so a
  // too small item can be made larger.
  const int existing = find(type, ordinal, ext);
  const std::uint32_t released =
      existing >= 0 ? items_[static_cast<size_t>(existing)].allocation : 0;
  if (allocation > uint64_t{free_space()} + released) {
    fail(kReqNvmWrite, kFwErrNoSpace, 2);
    return std::nullopt;
  }
  if (fragmented_) {
    fail(kReqNvmWrite, kFwErrFragmented, 1);
    return std::nullopt;
  }
  if (existing >= 0) {
    NvmItem& item = items_[static_cast<size_t>(existing)];
    item.attr = attr;
    item.allocation = allocation;
    item.data.clear();
    return static_cast<std::uint32_t>(existing);
  }
  NvmItem item;
  item.type = type;
  item.ordinal = ordinal;
  item.ext = ext;
  item.attr = attr;
  item.allocation = allocation;
  items_.push_back(std::move(item));
  return static_cast<std::uint32_t>(items_.size() - 1);
}

bool FirmwareUnit::read(std::uint32_t index, std::uint32_t offset, std::uint32_t length,
                        std::vector<std::uint8_t>* out) {
  if (index >= items_.size()) {
    fail(kReqNvmRead, kFwErrInvalidIndex, 0);
    return false;
  }
  const std::vector<std::uint8_t>& data = items_[index].data;
  if (offset > data.size()) {
    fail(kReqNvmRead, kFwErrOutOfRange, 0);
    return false;
  }
  const size_t n = std::min<size_t>(length, data.size() - offset);
  out->assign(data.begin() + offset, data.begin() + static_cast<std::ptrdiff_t>(offset + n));
  return true;
}

bool FirmwareUnit::modify(std::uint32_t index, std::uint32_t offset,
                          std::span<const std::uint8_t> data) {
  if (index >= items_.size()) {
    fail(kReqNvmWrite, kFwErrInvalidIndex, 0);
    return false;
  }
  NvmItem& item = items_[index];
  if (uint64_t{offset} + data.size() > item.allocation) {
    fail(kReqNvmWrite, kFwErrOutOfRange, 0);
    return false;
  }
  // A write from offset 0 starts a new image: the valid data ends where
  // this write ends, or later when later writes extend it.
  if (offset == 0) {
    item.data.resize(data.size());
  } else if (item.data.size() < offset + data.size()) {
    item.data.resize(offset + data.size(), 0xFF);
  }
  if (!data.empty()) std::memcpy(item.data.data() + offset, data.data(), data.size());
  return true;
}

bool FirmwareUnit::get_option(const OptionKey& key, std::uint16_t bits,
                              std::vector<std::uint8_t>* out) {
  auto it = options_.find(key);
  // An option described once (index 0) answers for every index.
  if (it == options_.end()) it = options_.find(OptionKey{key[0], 0, 0, 0, 0});
  if (it == options_.end()) {
    fail(kReqNvmOption, kFwErrUnknownOption, 0);
    return false;
  }
  *out = it->second;
  out->resize(std::max<size_t>((bits + 7u) / 8u, 1), 0);
  return true;
}

bool FirmwareUnit::set_option(const OptionKey& key, std::uint16_t bits,
                              std::span<const std::uint8_t> value) {
  const size_t n = std::min<size_t>((bits + 7u) / 8u, value.size());
  staged_[key] = std::vector<std::uint8_t>(value.begin(), value.begin() + static_cast<std::ptrdiff_t>(n));
  return true;
}

void FirmwareUnit::flush_options() {
  for (auto& [k, v] : staged_) options_[k] = v;
  staged_.clear();
}

bool FirmwareUnit::factory_defaults(std::uint8_t mode) {
  if (mode != 0) return false;
  options_ = factory_;
  staged_.clear();
  return true;
}

bool FirmwareUnit::reset(std::uint8_t processor_type, std::uint8_t reset_type) {
  if (processor_type != 6 || reset_type != 1) {
    fail(kReqUnsupported, kFwErrNotSupported, 0);
    return false;
  }
  if (reset_counter_moves_) ++reset_count_;
  staged_.clear();
  pending_action_ = 0;
  return true;
}

std::uint32_t FirmwareUnit::sync_images(std::uint32_t actions) {
  if (actions == 0x8000003Fu && (sync_status_ & 0x80000000u) != 0) health_ &= ~0x55E2Au;
  return sync_status_;
}

std::string FirmwareUnit::installed_log_version() const {
  const int log = find(kPackageLogType, 0, 0);
  if (log < 0) return {};
  std::string version;
  for (const std::string& line : log_lines(items_[static_cast<size_t>(log)].data)) {
    const std::vector<std::string> f = split_tabs(line);
    if (f.size() > 1 && (f[1].find("Patch") != std::string::npos ||
                         f[1].find("DAZA Program") != std::string::npos)) {
      continue;
    }
    if (f.size() > 2) version = f[2];
  }
  return version;
}

std::optional<std::string> FirmwareUnit::package_version() const {
  if (version_override_set_) return version_override_;
  return installed_log_version();
}

void FirmwareUnit::append_log_line(const std::string& line) {
  int log = find(kPackageLogType, 0, 0);
  if (log < 0) {
    if (!create(kPackageLogType, 0, 0, 0, kAllocationUnit)) return;
    log = find(kPackageLogType, 0, 0);
  }
  NvmItem& item = items_[static_cast<size_t>(log)];
  size_t end = item.data.size();
  while (end > 0 && (item.data[end - 1] == 0x00 || item.data[end - 1] == 0xFF)) --end;
  item.data.resize(end);
  if (end > 0 && item.data.back() != '\n') item.data.push_back('\n');
  item.data.insert(item.data.end(), line.begin(), line.end());
  item.data.push_back('\n');
  // A full log drops its oldest lines.
  while (item.data.size() > item.allocation) {
    auto nl = std::find(item.data.begin(), item.data.end(), '\n');
    if (nl == item.data.end()) {
      item.data.clear();
      break;
    }
    item.data.erase(item.data.begin(), nl + 1);
  }
}

bool FirmwareUnit::place_item(const NvmItem& source, std::uint16_t* error) {
  const int at = find(source.type, source.ordinal, source.ext);
  if (at >= 0 && items_[static_cast<size_t>(at)].allocation >= source.data.size()) {
    NvmItem& item = items_[static_cast<size_t>(at)];
    item.data = source.data;
    item.attr = source.attr;
    return true;
  }
  std::uint32_t allocation = std::max(source.allocation, round_up(source.data.size()));
  std::uint32_t released = 0;
  if (at >= 0) released = items_[static_cast<size_t>(at)].allocation;
  if (allocation > free_space() + released) {
    *error = kFwErrNoSpace;
    return false;
  }
  if (at >= 0) items_.erase(items_.begin() + at);
  NvmItem item = source;
  item.allocation = allocation;
  items_.push_back(std::move(item));
  return true;
}

bool FirmwareUnit::install_update(std::uint32_t /*install_type*/, InstallOutcome* outcome) {
  *outcome = InstallOutcome{};
  const int at = find(kUpdateType, 0, 0);
  if (at < 0) {
    fail(kReqNvmInstallUpdate, kFwErrNoUpdate, 0);
    return false;
  }
  if (write_protected_) {
    outcome->result = 17;
    return true;
  }
  const std::vector<std::uint8_t> image = items_[static_cast<size_t>(at)].data;
  const std::span<const std::uint8_t> view(image);
  PackageHeader header{};
  ManifestHeader manifest{};
  uint32_t count = 0;
  if (package_check_header(view, &header) != 0 || package_read_manifest(view, &manifest) != 0 ||
      package_item_count(view, &count) != 0) {
    outcome->result = 3;  // the update item holds no package
    return true;
  }
  std::vector<PackageEntry> entries(count);
  if (count != 0 && package_read_entries(view, 0, count, entries.data()) != static_cast<int32_t>(count)) {
    outcome->result = 3;
    return true;
  }
  // A trailer of 4 bytes or more ends with the CRC of everything before it.
  if (header.trailer_length > view.size()) {
    outcome->result = 3;
    return true;
  }
  if (header.trailer_length >= 4) {
    const size_t covered = view.size() - header.trailer_length;
    const std::uint8_t* c = view.data() + view.size() - 4;
    const std::uint32_t stored = static_cast<std::uint32_t>(c[0]) |
                                 static_cast<std::uint32_t>(c[1]) << 8 |
                                 static_cast<std::uint32_t>(c[2]) << 16 |
                                 static_cast<std::uint32_t>(c[3]) << 24;
    if (crc32(0xFFFFFFFFu, view.data(), covered) != stored) {
      outcome->result = 4;
      return true;
    }
  }
  const std::string version = property_text(view, 9);
  if (anti_rollback_) {
    const std::string installed = installed_log_version();
    if (!installed.empty() && compare_versions(version, installed) < 0) {
      fail(kReqNvmInstallUpdate, kFwErrAntiRollback, 3);
      return false;
    }
  }
  // Check every packaged item before anything is written.
  for (std::uint32_t i = 0; i < count; ++i) {
    const ItemRecord& r = entries[i].record;
    const bool in_range = uint64_t{r.data_offset} + r.data_length <= view.size();
    const bool failing = failing_item_ && (*failing_item_)[0] == r.dir_type &&
                         (*failing_item_)[1] == r.dir_ordinal && (*failing_item_)[2] == r.dir_ext;
    if (!in_range || failing ||
        (r.data_length != 0 && (r.dir_attr & 1) == 0 &&
         crc32(0xFFFFFFFFu, view.data() + r.data_offset, r.data_length) != r.data_crc32)) {
      outcome->result = failing ? failing_result_ : 5;
      outcome->problem_item = static_cast<std::uint8_t>(std::min<std::uint32_t>(i, 0xFE));
      return true;
    }
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    const ItemRecord& r = entries[i].record;
    if (r.dir_type == kUpdateType || r.dir_type == kPackageLogType || r.data_length == 0) continue;
    NvmItem item;
    item.type = r.dir_type;
    item.ordinal = r.dir_ordinal;
    item.ext = r.dir_ext;
    item.attr = r.dir_attr;
    item.allocation = r.dir_item_length;
    item.data.assign(view.begin() + r.data_offset, view.begin() + r.data_offset + r.data_length);
    std::uint16_t error = 0;
    if (!place_item(item, &error)) {
      outcome->result = 2;  // no room for the item
      outcome->problem_item = static_cast<std::uint8_t>(std::min<std::uint32_t>(i, 0xFE));
      return true;
    }
    if (i < 32) outcome->installed_items_0 |= 1u << i;
    else if (i < 64) outcome->installed_items_1 |= 1u << (i - 32);
  }
  std::string when = "0000-00-00 00:00:00";
  if (fw_time_.is_object()) {
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", json_u32(fw_time_, "year", 0),
                  json_u32(fw_time_, "month", 0), json_u32(fw_time_, "day", 0),
                  json_u32(fw_time_, "hour", 0), json_u32(fw_time_, "minute", 0),
                  json_u32(fw_time_, "second", 0));
    when = text;
  }
  append_log_line(when + "\t" + property_text(view, 1) + "\t" + version + "\t" +
                  [&] {
                    std::string ts = property_text(view, 8);
                    return ts.empty() ? property_text(view, 6) : ts;
                  }());
  outcome->reset_required = reset_required_ ? 1 : 0;
  if (reset_required_) pending_action_ = 3;
  return true;
}

std::vector<std::uint8_t> FirmwareUnit::hwrm(std::span<const std::uint8_t> request) {
  const std::uint16_t req_type = request.size() >= 2 ? load16(request.data()) : 0;
  const std::uint16_t seq = request.size() >= 6 ? load16(request.data() + 4) : 0;
  std::vector<std::uint8_t> resp;
  switch (req_type) {
    case 0x0016:  // function configuration
      resp.assign(32, 0);
      store16(resp.data() + 14, func_cfg_flags_);
      break;
    case 0x00C1:  // firmware status
      resp.assign(16, 0);
      resp[8] = status_byte8_;
      resp[9] = pending_action_;
      break;
    case 0xFFEC:  // NVM defragmentation
      resp.assign(16, 0);
      fragmented_ = false;
      break;
    default:
      resp.assign(16, 0);
      store16(resp.data(), 2);  // unsupported request
      break;
  }
  if (auto e = hwrm_error_code_.find(req_type); e != hwrm_error_code_.end()) {
    store16(resp.data(), e->second);
  }
  store16(resp.data() + 2, req_type);
  store16(resp.data() + 4, seq);
  store16(resp.data() + 6, static_cast<std::uint16_t>(resp.size()));
  if (auto l = reported_length_.find(req_type); l != reported_length_.end()) {
    store16(resp.data() + 6, static_cast<std::uint16_t>(l->second));
  }
  return resp;
}

std::optional<std::uint32_t> FirmwareUnit::reported_length(std::uint16_t req_type) const {
  auto l = reported_length_.find(req_type);
  if (l == reported_length_.end()) return std::nullopt;
  return l->second;
}

}  // namespace plat::sim
