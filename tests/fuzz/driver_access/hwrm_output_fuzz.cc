// Fuzz target: the HwrmPtVb output envelope as a driver might return it.
// Byte 0 picks the response capacity, byte 1 the caller's side buffers;
// the rest is the output envelope. Every copy must stay inside the output
// buffer and the caller's buffers.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "driver_access/hwrm_envelope.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint32_t capacity = data[0];
  const uint32_t side_count = data[1] & 3;
  std::vector<std::vector<uint8_t>> storage(side_count);
  HwrmSideBuffer side[3] = {};
  for (uint32_t i = 0; i < side_count; ++i) {
    storage[i].assign(8u + 8u * i, 0);
    side[i] = {storage[i].data(), static_cast<uint32_t>(storage[i].size()), 0,
               static_cast<uint16_t>((data[1] >> (2 + i)) & 1)};
  }
  const hwrm::Layout layout = hwrm::layout_for(24, capacity, side, side_count);
  // The output buffer has the expected length; the driver's bytes fill it
  // from the start, as many as it returned.
  std::vector<uint8_t> out(layout.output_length, 0);
  const size_t received = std::min(size - 2, out.size());
  if (received != 0) std::memcpy(out.data(), data + 2, received);
  std::vector<uint8_t> response(capacity);
  hwrm::take_output(out, received, layout, response.data(), capacity, side, side_count);
  return 0;
}
