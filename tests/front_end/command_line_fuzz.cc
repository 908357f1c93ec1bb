// Fuzz target: the getoption form's argument parsing and the XML value
// escaping, over arbitrary bytes. Aborts when an escaped value could break a
// document: bytes that are not UTF-8, a raw markup character, a quote inside an
// attribute, or a control character that XML 1.0 forbids.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "front_end/command_line.h"
#include "front_end/xml_text.h"

namespace {

void check_xml(const std::string& out, bool attribute) {
  for (size_t i = 0; i < out.size();) {
    auto lead = static_cast<unsigned char>(out[i]);
    size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : 0;
    if (length == 0 || i + length > out.size()) std::abort();
    for (size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(out[i + k]) & 0xC0) != 0x80) std::abort();
    if (length == 1) {
      char c = out[i];
      if (c == '<' || c == '>') std::abort();
      if (c == '&' && out.find(';', i) == std::string::npos) std::abort();
      if (attribute && (c == '"' || c == '\t' || c == '\n')) std::abort();
      if (lead < 0x20 && c != '\t' && c != '\n') std::abort();
    }
    i += length;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  check_xml(xml_text(bytes), false);
  check_xml(xml_attribute(bytes), true);

  std::string argument(bytes.c_str());  // an argument ends at its first zero byte
  GetoptionArgs args;
  parse_getoption_value(argument.c_str(), &args);
  char* selector = split_device_argument(argument.data());
  if (selector != nullptr && (selector < argument.data() || selector >= argument.data() + argument.size()))
    std::abort();
  return 0;
}
