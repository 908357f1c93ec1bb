// text.cc: fixed-field text helpers of the library.
#include <cctype>
#include <cstring>
#include <limits>

#include "ndam/ndam_internal.h"

namespace ndam {

void CopyText(char* dst, std::size_t capacity, std::string_view src) {
  if (capacity == 0) return;
  std::memset(dst, 0, capacity);
  std::size_t n = src.size() < capacity - 1 ? src.size() : capacity - 1;
  if (n > 0) std::memcpy(dst, src.data(), n);
}

std::size_t FieldLength(const char* field, std::size_t capacity) {
  const void* end = std::memchr(field, '\0', capacity);
  return end ? static_cast<std::size_t>(static_cast<const char*>(end) - field) : capacity;
}

namespace {
char Lower(char c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}
}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::string_view AdapterText(std::string_view net_cfg_instance_id) {
  if (StartsWithNoCase(net_cfg_instance_id, "\\\\?\\")) return net_cfg_instance_id.substr(4);
  return net_cfg_instance_id;
}

std::uint32_t DecimalValue(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t value = 0;
  constexpr std::int64_t kLimit = std::numeric_limits<std::int32_t>::max();
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > kLimit) value = kLimit + 1;  // saturate instead of overflowing
  }
  if (negative) value = -value;
  if (value > kLimit) value = kLimit;
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
}

}  // namespace ndam
