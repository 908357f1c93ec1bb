// The HwrmPtVb envelope in memory: the input layout and every way the
// driver's output envelope can be wrong.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "driver_access/hwrm_envelope.h"

namespace {

uint32_t u32(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
         static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}
void put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

TEST(HwrmEnvelope, DefragmentationRequestEnvelope) {
  uint8_t req[24] = {0xEC, 0xFF, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF};
  req[16] = 1;
  const hwrm::Layout l = hwrm::layout_for(sizeof req, 16, nullptr, 0);
  EXPECT_EQ(l.input_length, 52u);
  EXPECT_EQ(l.output_length, 44u);
  std::vector<uint8_t> env(l.input_length, 0);
  hwrm::build_input(env, l, req, sizeof req, nullptr, 0);
  EXPECT_EQ(u32(env, 0), 1u);    // format
  EXPECT_EQ(u32(env, 8), 150u);  // timeout
  EXPECT_EQ(u32(env, 12), 0u);   // no side buffers
  EXPECT_EQ(u32(env, 16), 28u);  // message offset
  EXPECT_EQ(u32(env, 20), 24u);  // message length
  EXPECT_EQ(u32(env, 24), 52u);  // total length
  EXPECT_EQ(std::memcmp(env.data() + 28, req, sizeof req), 0);
}

TEST(HwrmEnvelope, TimeoutByRequestType) {
  const struct {
    uint16_t type;
    uint32_t timeout;
  } cases[] = {{0xFFF3, 150}, {0xFFEC, 150}, {0x00C3, 40}, {0x00D9, 180}, {0x00C1, 12}, {0x0016, 12}};
  for (const auto& c : cases) EXPECT_EQ(hwrm::timeout_for(c.type), c.timeout) << c.type;
}

TEST(HwrmEnvelope, SideBuffersPackedInDescriptorOrder) {
  uint8_t to_a[3] = {1, 2, 3};
  uint8_t from_b[5] = {};
  uint8_t to_c[2] = {7, 8};
  HwrmSideBuffer side[3] = {{to_a, 3, 0x11, kHwrmSideToFirmware},
                            {from_b, 5, 0x22, kHwrmSideFromFirmware},
                            {to_c, 2, 0x33, kHwrmSideToFirmware}};
  uint8_t req[24] = {0x16, 0};
  const hwrm::Layout l = hwrm::layout_for(24, 16, side, 3);
  EXPECT_EQ(l.message_offset, 28u + 36u + 5u);
  EXPECT_EQ(l.input_length, 28u + 36u + 5u + 24u);
  EXPECT_EQ(l.output_length, 28u + 36u + 5u + 16u);
  std::vector<uint8_t> env(l.input_length, 0);
  hwrm::build_input(env, l, req, 24, side, 3);
  EXPECT_EQ(u32(env, 28), 64u);  // first data right after the descriptors
  EXPECT_EQ(u32(env, 28 + 12), 0u);  // from-firmware buffer has no data offset
  EXPECT_EQ(u32(env, 28 + 24), 67u);
  EXPECT_EQ(env[64], 1);
  EXPECT_EQ(env[67], 7);
  EXPECT_EQ(env[28 + 12 + 8], 0x22);   // pass-through field
  EXPECT_EQ(env[28 + 12 + 10], 1);     // direction
}

// An output envelope with no side buffers, the response at `offset`.
std::vector<uint8_t> output(uint32_t offset, uint16_t error_code, uint16_t own_length,
                            size_t size = 44) {
  std::vector<uint8_t> out(size, 0);
  put32(out, 0, 1);
  put32(out, 16, offset);
  if (offset + 8 <= size) {
    put16(out, offset, error_code);
    put16(out, offset + 6, own_length);
    for (size_t i = offset + 8; i < size; ++i) out[i] = static_cast<uint8_t>(i);
  }
  return out;
}

TEST(HwrmEnvelope, OutputTable) {
  const hwrm::Layout l = hwrm::layout_for(24, 16, nullptr, 0);
  const struct {
    const char* name;
    uint32_t offset;
    uint16_t error_code;
    uint16_t own_length;
    size_t received;
    uint32_t code;
    size_t copied;
  } cases[] = {
      {"good response of its own length", 28, 0, 12, 44, 0, 12},
      {"own length above capacity: capacity", 28, 0, 40, 44, 0, 16},
      {"own length beyond the bytes received: capacity", 28, 0, 14, 30, 0, 16},
      {"message offset in the header", 20, 0, 16, 44, 12, 0},
      {"message offset 0 (nothing received)", 0, 0, 0, 0, 12, 0},
      {"firmware error copied then reported", 28, 3, 16, 44, 14, 16},
      {"offset near the end: bounded by the buffer", 34, 0, 16, 44, 0, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> out = output(c.offset, c.error_code, c.own_length);
    uint8_t resp[16 + 4];
    std::memset(resp, 0xEE, sizeof resp);
    EXPECT_EQ(hwrm::take_output(out, c.received, l, resp, 16, nullptr, 0), c.code);
    if (c.copied != 0) {
      EXPECT_EQ(std::memcmp(resp, out.data() + c.offset, c.copied), 0);
    }
    for (size_t i = c.copied; i < sizeof resp; ++i) EXPECT_EQ(resp[i], 0xEE) << i;
  }
}

TEST(HwrmEnvelope, OffsetBeyondBufferIsRejected) {
  const hwrm::Layout l = hwrm::layout_for(24, 16, nullptr, 0);
  std::vector<uint8_t> out = output(28, 0, 16);
  put32(out, 16, 0xFFFFFFF0u);
  uint8_t resp[16];
  EXPECT_EQ(hwrm::take_output(out, out.size(), l, resp, 16, nullptr, 0), 12u);
  put32(out, 16, 40);  // response header would run past the end
  EXPECT_EQ(hwrm::take_output(out, out.size(), l, resp, 16, nullptr, 0), 12u);
}

TEST(HwrmEnvelope, FromFirmwareSideBufferCopyIsBounded) {
  uint8_t small[4];
  std::memset(small, 0xEE, sizeof small);
  uint8_t outgoing[2] = {9, 9};
  HwrmSideBuffer side[2] = {{small, 4, 0, kHwrmSideFromFirmware},
                            {outgoing, 2, 0, kHwrmSideToFirmware}};
  const hwrm::Layout l = hwrm::layout_for(24, 16, side, 2);
  std::vector<uint8_t> out(l.output_length, 0);
  put32(out, 12, 2);
  put32(out, 16, l.min_response_offset);
  // Descriptor 0 claims 100 bytes from offset 52; descriptor 1 claims to
  // return data into a buffer that goes to the firmware.
  put32(out, 28, 52);
  put32(out, 32, 100);
  put16(out, 38, 1);
  put32(out, 40, 52);
  put32(out, 44, 2);
  put16(out, 50, 1);
  for (size_t i = 52; i < 56; ++i) out[i] = static_cast<uint8_t>(0xA0 + i - 52);
  put16(out, l.min_response_offset + 6, 16);
  uint8_t resp[16];
  EXPECT_EQ(hwrm::take_output(out, out.size(), l, resp, 16, side, 2), 0u);
  EXPECT_EQ(small[0], 0xA0);
  EXPECT_EQ(small[3], 0xA3);
  EXPECT_EQ(outgoing[0], 9);  // never written back
}

}  // namespace
