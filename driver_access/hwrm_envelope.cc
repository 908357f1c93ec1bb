// hwrm_envelope.cc: building the HwrmPtVb input envelope and reading the
// output envelope back without trusting any length or offset in it.
#include "driver_access/hwrm_envelope.h"

#include <algorithm>
#include <cstring>

namespace hwrm {
namespace {

uint32_t load32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t load16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
void store32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
void store16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

uint32_t timeout_for(uint16_t req_type) {
  switch (req_type) {
    case 0xFFF3:  // NVM install update
    case 0xFFEC:  // NVM defragmentation
      return 150;
    case 0x00C3:
      return 40;
    case 0x00D9:
      return 180;
    default:
      return 12;
  }
}

Layout layout_for(uint32_t request_length, uint32_t response_capacity,
                  const HwrmSideBuffer* side, uint32_t side_count) {
  Layout l;
  uint64_t to_fw = 0;
  uint64_t from_fw = 0;
  for (uint32_t i = 0; side != nullptr && i < side_count; ++i) {
    (side[i].direction == kHwrmSideFromFirmware ? from_fw : to_fw) += side[i].length;
  }
  const uint64_t head = kEnvelopeHeaderSize + uint64_t{kDescriptorSize} * side_count;
  const uint64_t message_offset = head + to_fw;
  const uint64_t input_length = message_offset + request_length;
  const uint64_t min_response = head + from_fw;
  const uint64_t output_length = min_response + response_capacity;
  l.overflow = input_length > UINT32_MAX || output_length > UINT32_MAX;
  l.to_fw_total = static_cast<uint32_t>(to_fw);
  l.from_fw_total = static_cast<uint32_t>(from_fw);
  l.message_offset = static_cast<uint32_t>(message_offset);
  l.input_length = static_cast<uint32_t>(input_length);
  l.min_response_offset = static_cast<uint32_t>(min_response);
  l.output_length = static_cast<uint32_t>(output_length);
  return l;
}

void build_input(std::span<uint8_t> envelope, const Layout& layout, const uint8_t* request,
                 uint32_t request_length, const HwrmSideBuffer* side, uint32_t side_count) {
  uint8_t* e = envelope.data();
  const uint16_t req_type = request_length >= 2 ? load16(request) : 0;
  store32(e + 0, 1);  // format
  store32(e + 8, timeout_for(req_type));
  store32(e + 12, side_count);
  store32(e + 16, layout.message_offset);
  store32(e + 20, request_length);
  store32(e + 24, layout.input_length);
  uint32_t next_data = kEnvelopeHeaderSize + kDescriptorSize * side_count;
  for (uint32_t i = 0; side != nullptr && i < side_count; ++i) {
    uint8_t* d = e + kEnvelopeHeaderSize + kDescriptorSize * i;
    const HwrmSideBuffer& b = side[i];
    const bool to_fw = b.direction != kHwrmSideFromFirmware;
    store32(d + 0, to_fw ? next_data : 0);
    store32(d + 4, b.length);
    store16(d + 8, b.passthrough);
    store16(d + 10, b.direction);
    if (to_fw) {
      if (b.length != 0 && b.data != nullptr) std::memcpy(e + next_data, b.data, b.length);
      next_data += b.length;
    }
  }
  if (request_length != 0) std::memcpy(e + layout.message_offset, request, request_length);
}

uint32_t take_output(std::span<const uint8_t> out, size_t received, const Layout& layout,
                     uint8_t* response, uint32_t response_capacity, HwrmSideBuffer* side,
                     uint32_t side_count) {
  const size_t size = out.size();
  received = std::min(received, size);
  if (size < kEnvelopeHeaderSize) return 12;
  const uint8_t* o = out.data();
  const uint32_t out_count = load32(o + 12);
  const uint32_t message_offset = load32(o + 16);
  // The response must start after the header, descriptors and returned data,
  // and its 8-byte header must lie inside the output buffer.
  if (message_offset < layout.min_response_offset || message_offset > size ||
      size - message_offset < 8) {
    return 12;
  }
  const uint8_t* resp = o + message_offset;
  const size_t room = size - message_offset;
  const uint16_t own_length = load16(resp + 6);
  size_t n = response_capacity;
  if (message_offset + size_t{own_length} <= received) n = own_length;
  n = std::min({n, size_t{response_capacity}, room});
  if (n != 0 && response != nullptr) std::memcpy(response, resp, n);
  if (load16(resp) != 0) return 14;

  for (uint64_t i = 0; i < out_count && i < side_count && side != nullptr; ++i) {
    const uint64_t at = kEnvelopeHeaderSize + kDescriptorSize * i;
    if (at + kDescriptorSize > size) break;
    const uint8_t* d = o + at;
    HwrmSideBuffer& b = side[i];
    if (load16(d + 10) != kHwrmSideFromFirmware || b.direction != kHwrmSideFromFirmware ||
        b.data == nullptr) {
      continue;
    }
    const uint32_t data_offset = load32(d + 0);
    if (data_offset >= size) continue;
    const size_t take = std::min({size_t{load32(d + 4)}, size_t{b.length}, size - data_offset});
    if (take != 0) std::memcpy(b.data, o + data_offset, take);
  }
  return 0;
}

}  // namespace hwrm
