// hwrm_envelope.h: the HwrmPtVb envelope, built and taken apart in memory.
//
// Internal to driver_access (and its tests and fuzz target). The envelope
// carries one HWRM message and any number of side buffers; see
// driver_access.h for the side-buffer description the caller gives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "driver_access/driver_access.h"

namespace hwrm {

inline constexpr uint32_t kEnvelopeHeaderSize = 28;
inline constexpr uint32_t kDescriptorSize = 12;

// The driver's wait limit for a request type.
uint32_t timeout_for(uint16_t req_type);

// Lengths of one exchange, from the caller's request and side buffers.
struct Layout {
  uint32_t to_fw_total = 0;     // sum of the to-firmware side-buffer lengths
  uint32_t from_fw_total = 0;   // sum of the from-firmware side-buffer lengths
  uint32_t message_offset = 0;  // of the request in the input envelope
  uint32_t input_length = 0;
  uint32_t output_length = 0;   // expected output envelope length
  uint32_t min_response_offset = 0;  // lowest valid message offset of the output
  bool overflow = false;        // the lengths do not fit in 32 bits
};
Layout layout_for(uint32_t request_length, uint32_t response_capacity,
                  const HwrmSideBuffer* side, uint32_t side_count);

// Fills the input envelope (input_length bytes, zero-filled by the caller).
void build_input(std::span<uint8_t> envelope, const Layout& layout, const uint8_t* request,
                 uint32_t request_length, const HwrmSideBuffer* side, uint32_t side_count);

// Takes apart an output envelope: `out` is the whole output buffer (the
// expected output length, zero-filled beyond what the driver returned) and
// `received` the number of bytes the driver returned. Copies the response
// into response[0..capacity) and the from-firmware side buffers, never
// reading past `out` nor writing past the caller's buffers. Returns the
// transport code: 0, 12 (bad message offset) or 14 (nonzero error_code).
uint32_t take_output(std::span<const uint8_t> out, size_t received, const Layout& layout,
                     uint8_t* response, uint32_t response_capacity, HwrmSideBuffer* side,
                     uint32_t side_count);

}  // namespace hwrm
