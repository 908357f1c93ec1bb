// last_error.cc: the driver's last error after a failed method, and the
// trace hook.
#include <algorithm>
#include <cstdarg>
#include <string>

#include "driver_access/call.h"

void nvm_trace(int /*level*/, int /*flag*/, const char* /*format*/, ...) {}

int32_t nvm_last_error_result(uint16_t req_type, uint16_t error_code, uint16_t cmd_error) {
  if (req_type == 0xFFFE && cmd_error == 2) return TSYRETVAL_NVM_WRITE_CMD_ERR_CODE_NO_SPACE;
  if (req_type == 0xFFFE && cmd_error == 1) return TSYRETVAL_NVM_WRITE_CMD_ERR_CODE_FRAG_ERR;
  if (req_type == 0xFFF3 && cmd_error == 3) {
    return TSYRETVAL_NVM_INSTALL_UPDATE_CMD_ERR_CODE_ANTI_ROLLBACK;
  }
  return error_code;
}

int32_t vrexnvmGetLastError(const char* adapter_name, const char16_t* method_name) {
  WmiHelper wmi(da::kRootWmi);
  if (!wmi.IsConnected()) return da::kInterfaceFailure;
  const plat::WString key = da::adapter_key(adapter_name);
  std::unique_ptr<plat::WmiObject> out;
  if (!wmi.ExecMethod(da::kNvramAccess, key, u"GetNvmLastError", nullptr, &out)) {
    nvm_trace(0, 0, "Failed to get NVM last error\n");
    return da::kInterfaceFailure;
  }
  uint16_t req_type = 0;
  uint16_t error_code = 0;
  uint16_t cmd_error = 0;
  if (!wmi.GetUInt16(out.get(), u"ReqType", &req_type) ||
      !wmi.GetUInt16(out.get(), u"ErrorCode", &error_code) ||
      !wmi.GetUInt16(out.get(), u"CommandSpecificErrorCode", &cmd_error)) {
    return da::kInterfaceFailure;
  }
  std::string method = plat::wide_to_ansi(method_name != nullptr ? method_name : u"");
  if (method.size() > 255) method.resize(255);
  nvm_trace(0, 0, "dev: \"%s\" method: %s req: 0x%x error_code: %d cmd_err: %d\n",
            adapter_name != nullptr ? adapter_name : "", method.c_str(), req_type, error_code,
            cmd_error);
  return nvm_last_error_result(req_type, error_code, cmd_error);
}
