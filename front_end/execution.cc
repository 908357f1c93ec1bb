// execution.cc: the execution run.
#include "front_end/execution.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver_access/driver_access.h"
#include "front_end/adapter_tables.h"
#include "front_end/nvm_options.h"
#include "front_end/reports.h"
#include "front_end/reset_sequence.h"
#include "front_end/run_settings.h"
#include "front_end/writers.h"
#include "front_end/xml_text.h"
#include "package/package.h"

namespace {

// Four dot-separated signed decimals; parsing stops at the first part that
// is not a number, leaving the rest 0. Values are clamped to 32 bits.
void read_version(const char* text, long long parts[4]) {
  for (int k = 0; k < 4; ++k) parts[k] = 0;
  const char* p = text;
  for (int k = 0; k < 4; ++k) {
    while (*p == ' ' || *p == '\t') ++p;
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(p, &end, 10);
    if (end == p) return;
    if (value > INT32_MAX) value = INT32_MAX;
    if (value < INT32_MIN) value = INT32_MIN;
    parts[k] = value;
    p = end;
    if (*p != '.') return;
    ++p;
  }
}

// The install-error message for a failed install, negative or positive.
// status_name names a positive firmware or driver code "Unknown: N".
void report_install_error(const InstallResult& result) {
  std::FILE* out = run_settings.out;
  const std::string name = xml_text(status_name(result.value));
  const std::string reason = xml_text(std::strerror(result.errnum));
  std::fprintf(out, "\t\t\t<SPStatus result=\"false\">\n");
  if (result.item >= 0)
    std::fprintf(out,
                 "\t\t\t\t<Message id=\"1\">Error installing packaged item #%u: %s (errno: %d, "
                 "%s)</Message>\n",
                 static_cast<unsigned>(result.item) + 1, name.c_str(), result.errnum,
                 reason.c_str());
  else
    std::fprintf(out,
                 "\t\t\t\t<Message id=\"1\">Error installing package: %s (errno: %d, "
                 "%s)</Message>\n",
                 name.c_str(), result.errnum, reason.c_str());
}

// Up to three install attempts, with a defragmentation after a space or
// fragmentation failure; stops at success or an anti-rollback refusal.
void install_with_retries(SupportedAdapter* adapter, uint8_t* reboot) {
  const PackageRecord& package = *adapter->package;
  const char* name = adapter->nic->name;
  for (int attempt = 0; attempt < 3; ++attempt) {
    debug_printf("Before vrexnvmInstallPackage()\n");
    adapter->result.item = -1;
    // errno then tells of this install only, not of whatever ran before it.
    errno = 0;
    adapter->result.value =
        vrexnvmInstallPackage(name, package.view().data(), package.data_size,
                              &adapter->result.item, reboot, 0, 0);
    debug_printf("vrexnvmInstallPackage() adapter->result.value = %d retry_count = %d\n",
                 adapter->result.value, attempt);
    const int32_t value = adapter->result.value;
    if (value == TSYRETVAL_NVM_WRITE_CMD_ERR_CODE_NO_SPACE ||
        value == TSYRETVAL_NVM_WRITE_CMD_ERR_CODE_FRAG_ERR) {
      const int32_t defrag = vrexnvmDefrag(name);
      debug_printf("defrag command failed with status %d.\n", defrag);
    }
    if (value == kInstallAntiRollback || value == 0) break;
  }
  adapter->result.errnum = errno;
  const int32_t value = adapter->result.value;
  if (value < 0)
    debug_printf("vrexnvmInstallPackage() returned %d (%s), errno: %d, %s\n", value,
                 status_name(value), adapter->result.errnum,
                 std::strerror(adapter->result.errnum));
  else
    debug_printf("vrexnvmInstallPackage() returned %d (%s)\n", value, status_name(value));
}

}  // namespace

bool package_is_newer(const char* installed, const char* package) {
  long long have[4], offered[4];
  read_version(installed, have);
  read_version(package, offered);
  if ((have[0] == 21 || have[0] > 200) && offered[0] < 20) return true;
  for (int k = 0; k < 4; ++k) {
    if (have[k] < offered[k]) return true;
    if (have[k] > offered[k]) return false;
  }
  return false;
}

bool upgrade_wants(const SupportedAdapter& adapter, bool by_date) {
  if (by_date) return std::strcmp(adapter.installed_timestamp, adapter.package->timestamp) < 0;
  return package_is_newer(adapter.installed_version, adapter.package->ver);
}

uint32_t execution_run(unsigned command, SupportedAdapter* adapters, size_t count, bool by_date,
                       bool restore_factory_defaults) {
  uint32_t flags = 0;
  uint8_t reboot = 0;
  int32_t last_reset = 0;
  int32_t last_status = 0;
  uint8_t last_restore = 0;

  report_execution_begin();
  for (size_t k = 0; k < count; ++k) {
    SupportedAdapter& adapter = adapters[k];
    const PhyNic& nic = *adapter.nic;
    if (adapter.package == nullptr) {
      debug_printf("Excluding adapter not supported by any package file: %s\n", nic.name);
      continue;
    }
    const int family = chip_family(nic.device_id);
    if (command == COMMAND_UPGRADE && !upgrade_wants(adapter, by_date)) continue;

    report_device_open(adapter);
    if (const SupportedAdapter* twin = adapter.twin_of) {
      adapter.result = twin->result;
    } else {
      install_with_retries(&adapter, &reboot);
    }

    const int32_t value = adapter.result.value;
    if (value == kInstallAntiRollback) {
      flags |= report_outcome(adapter.result, SuccessMessage::kDone);
      last_status = value;
    } else if (value < 0 || (value != 0 && value != kInstallWriteProtect &&
                             value != kInstallDriverNotSupported)) {
      // A negative status, or a firmware error code or positive last-error
      // code from the install: the install failed.
      report_install_error(adapter.result);
      flags |= kResultInstallError;
      last_status = value;
    } else if (value == kInstallWriteProtect || value == kInstallDriverNotSupported) {
      flags |= report_outcome(adapter.result, SuccessMessage::kDone);
    } else {
      // 0: installed. A positive firmware or driver code other than the two
      // above is an error, reported as one above.
      SuccessMessage message;
      if (family < 8) {
        bool soc = false;
        const int32_t status = read_secure_soc(nic, &soc);
        debug_printf("vrex_check_secure_soc_enabled() returned %d isSocEnabled %d\n", status,
                     soc ? 1 : 0);
        last_status = status;
        message = success_after_soc_check(status, soc);
      } else {
        if (adapter.twin_of == nullptr) last_reset = reset_sequence(nic);
        message = success_after_reset(last_reset);
      }
      flags |= report_outcome(adapter.result, message);
      reboot = 0;
    }

    if (value >= 0 && nic.function == 0) apply_option_file(nic);
    report_status_close();

    if (family == 8 && restore_factory_defaults) {
      if (adapter.twin_of == nullptr) {
        uint8_t result = 0;
        last_status = vrexnvmFactoryDefaults(nic.name, 0, &result);
        if (last_status == 0) last_restore = result;
      }
      flags |= report_restore(last_status == 0 && last_restore == 1);
    }
    report_device_close();
  }
  report_execution_end(reboot != 0);
  ngNdamUninitialize();
  return flags;
}
