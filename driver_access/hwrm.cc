// hwrm.cc: HWRM pass-through (HwrmPt and HwrmPtVb) and the three firmware
// requests sent through it.
#include <cstring>
#include <new>
#include <vector>

#include "driver_access/call.h"
#include "driver_access/hwrm_envelope.h"

using plat::WmiObject;

namespace {

constexpr uint32_t kRequestLength = 24;

uint16_t load16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
void store16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

// A 24-byte request: header with the request type, completion ring and
// target id 0xFFFF, then the body.
void build_request(uint8_t (&req)[kRequestLength], uint16_t req_type) {
  std::memset(req, 0, sizeof req);
  store16(req + 0, req_type);
  store16(req + 2, 0xFFFF);
  store16(req + 6, 0xFFFF);
}

// Sends a request through HwrmPtVb, falling back to HwrmPt when the driver
// does not offer it. Returns the result and leaves the response in resp.
int32_t exchange_with_fallback(const char* adapter_name, const uint8_t* req, uint8_t* resp,
                               uint32_t capacity, uint16_t req_type) {
  const int32_t code = vrexnvmHwrmPtVb(adapter_name, req, kRequestLength, resp, capacity, nullptr, 0);
  if (code == HWRMPTVB_OK) return load16(resp);  // error_code, 0 after a good exchange
  if (code == HWRMPTVB_NOT_OFFERED) {
    return vrexnvmHwrmPt(adapter_name, req, kRequestLength, resp, capacity, req_type);
  }
  return da::kInterfaceFailure;
}

}  // namespace

int32_t vrexnvmHwrmPt(const char* adapter_name, const uint8_t* request, uint32_t request_length,
                      uint8_t* response, uint32_t response_capacity, uint16_t req_type) {
  WmiHelper wmi(da::kRootWmi);
  if (!wmi.IsConnected()) return da::kInterfaceFailure;
  const plat::WString key = da::adapter_key(adapter_name);
  const char* name = adapter_name != nullptr ? adapter_name : "";
  std::unique_ptr<WmiObject> in;
  std::unique_ptr<WmiObject> out;
  uint32_t response_length = 0;
  if (!wmi.GetMethodInParams(da::kHwDeviceAccess, u"HwrmPt", &in) || in == nullptr ||
      !wmi.PutUInt32(in.get(), u"msg_length", request_length) ||
      !wmi.PutBytes(in.get(), u"hw_msg", request, request_length) ||
      !wmi.ExecMethod(da::kHwDeviceAccess, key, u"HwrmPt", in.get(), &out) ||
      !wmi.GetUInt32(out.get(), u"msg_length", &response_length)) {
    nvm_trace(0, 0, "%s: hwrm req_type 0x%x failed using HwrmPt method\n", name, req_type);
    return da::kInterfaceFailure;
  }
  if (response_length == 0 || response_length > response_capacity) {
    nvm_trace(0, 0, "Driver returned invalid HWRM response length for req_type 0x%x\n", req_type);
    return TSYRETVAL_INVALID_LENGTH;
  }
  uint32_t got = response_capacity;
  if (!wmi.GetBytes(out.get(), u"hw_msg", response, &got)) {
    nvm_trace(0, 0, "%s: hwrm req_type 0x%x failed using HwrmPt method\n", name, req_type);
    return da::kInterfaceFailure;
  }
  return 0;
}

int32_t vrexnvmHwrmPtVb(const char* adapter_name, const uint8_t* request,
                        uint32_t request_length, uint8_t* response, uint32_t response_capacity,
                        HwrmSideBuffer* side_buffers, uint32_t side_count) {
  WmiHelper wmi(da::kRootWmi);
  if (!wmi.IsConnected()) return HWRMPTVB_NOT_CONNECTED;
  if (side_buffers == nullptr) side_count = 0;
  const hwrm::Layout layout =
      hwrm::layout_for(request_length, response_capacity, side_buffers, side_count);
  if (layout.overflow || (request == nullptr && request_length != 0)) {
    return HWRMPTVB_NO_INPUT_MEMORY;
  }
  std::vector<uint8_t> envelope;
  try {
    envelope.assign(layout.input_length, 0);
  } catch (const std::bad_alloc&) {
    return HWRMPTVB_NO_INPUT_MEMORY;
  }
  hwrm::build_input(envelope, layout, request, request_length, side_buffers, side_count);

  const plat::WString key = da::adapter_key(adapter_name);
  std::unique_ptr<WmiObject> in;
  if (!wmi.GetMethodInParams(da::kHwDeviceAccess, u"HwrmPtVb", &in) || in == nullptr) {
    return HWRMPTVB_NOT_OFFERED;
  }
  if (!wmi.PutUInt32(in.get(), u"hwrmptvb_in_length", layout.input_length)) {
    return HWRMPTVB_PUT_IN_LENGTH;
  }
  if (!wmi.PutUInt32(in.get(), u"hwrmptvb_out_length", layout.output_length)) {
    return HWRMPTVB_PUT_OUT_LENGTH;
  }
  if (!wmi.PutBytes(in.get(), u"hwrmptvb_in", envelope.data(), layout.input_length)) {
    return HWRMPTVB_PUT_IN;
  }
  std::unique_ptr<WmiObject> out;
  if (!wmi.ExecMethod(da::kHwDeviceAccess, key, u"HwrmPtVb", in.get(), &out)) {
    return HWRMPTVB_EXEC_FAILED;
  }
  uint32_t out_length = 0;
  if (!wmi.GetUInt32(out.get(), u"hwrmptvb_out_length", &out_length)) {
    return HWRMPTVB_GET_OUT_LENGTH;
  }
  if (out_length == 0) return HWRMPTVB_ZERO_OUT_LENGTH;
  std::vector<uint8_t> output;
  try {
    output.assign(layout.output_length, 0);
  } catch (const std::bad_alloc&) {
    return HWRMPTVB_NO_OUTPUT_MEMORY;
  }
  uint32_t received = layout.output_length;
  if (!wmi.GetBytes(out.get(), u"hwrmptvb_out", output.data(), &received)) {
    return HWRMPTVB_GET_OUT;
  }
  return static_cast<int32_t>(hwrm::take_output(output, received, layout, response,
                                                response_capacity, side_buffers, side_count));
}

int32_t vrexnvmQueryFuncConfig(const char* adapter_name, uint8_t* multi_host,
                               uint8_t* multi_root) {
  uint8_t req[kRequestLength];
  build_request(req, 0x0016);
  store16(req + 16, 0xFFFF);  // this function
  uint8_t resp[176] = {};
  const int32_t status = vrexnvmHwrmPt(adapter_name, req, kRequestLength, resp, sizeof resp, 0x0016);
  if (status != 0) return status;
  const uint16_t flags = load16(resp + 14);
  if ((flags & 0x0020) != 0 && multi_host != nullptr) *multi_host = 1;
  if ((flags & 0x2000) != 0 && multi_root != nullptr) *multi_root = 1;
  return 0;
}

int32_t vrexnvmFwQueryStatus(const char* adapter_name, bool selector, uint8_t* value) {
  uint8_t req[kRequestLength];
  build_request(req, 0x00C1);
  uint8_t resp[16] = {};
  const int32_t status = exchange_with_fallback(adapter_name, req, resp, sizeof resp, 0x00C1);
  if (status == 0 && value != nullptr) *value = resp[selector ? 9 : 8];
  return status;
}

int32_t vrexnvmDefrag(const char* adapter_name) {
  uint8_t req[kRequestLength];
  build_request(req, 0xFFEC);
  req[16] = 1;  // 32-bit flags 1
  uint8_t resp[16] = {};
  return exchange_with_fallback(adapter_name, req, resp, sizeof resp, 0xFFEC);
}
