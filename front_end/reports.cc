// reports.cc: the inventory and execution reports, one formatted line at a
// time on the output stream.
#include "front_end/reports.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "front_end/run_settings.h"
#include "front_end/xml_text.h"
#include "package/package.h"

namespace {

std::FILE* out_stream() { return run_settings.out != nullptr ? run_settings.out : stdout; }

// A zero-terminated text inside a fixed field, never read past the field.
template <size_t N>
std::string_view field(const char (&text)[N]) {
  return std::string_view(text, strnlen(text, N));
}

std::string attribute(std::string_view value) { return xml_attribute(value); }
std::string text(const char* value) { return xml_text(value != nullptr ? value : ""); }

void declaration_and_root(const char* report_name) {
  std::FILE* out = out_stream();
  std::fprintf(out, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  std::fprintf(out, "<RAZ%s lang=\"en\">\n", report_name);
}

void device_and_application_open(const SupportedAdapter& adapter) {
  std::FILE* out = out_stream();
  const PhyNic& nic = *adapter.nic;
  std::fprintf(out,
               "\t<Device vendorID=\"%04x\" deviceID=\"%04x\" subVendorID=\"%04x\" "
               "subDeviceID=\"%04x\" bus=\"%u\" device=\"%u\" function=\"%u\" display=\"%s\">\n",
               nic.vendor_id, nic.device_id, nic.subsys_vendor_id, nic.subsys_id,
               static_cast<unsigned>(nic.bus), static_cast<unsigned>(nic.device),
               static_cast<unsigned>(nic.function), attribute(field(nic.name)).c_str());
  std::fprintf(out, "\t\t<Application componentType=\"FRMW\" version=\"%s\" display=\"%s\">\n",
               attribute(field(adapter.installed_version)).c_str(),
               attribute(field(adapter.installed_description)).c_str());
}

void message(const char* line) { std::fputs(line, out_stream()); }

// The runtime's text for an error number.
std::string error_text(int errnum) { return text(std::strerror(errnum)); }

}  // namespace

void write_inventory_report(const SupportedAdapter* adapters, size_t count) {
  std::FILE* out = out_stream();
  declaration_and_root("Inventory");
  for (size_t k = 0; k < count; ++k) {
    device_and_application_open(adapters[k]);
    std::fprintf(out, "\t\t</Application>\n");
    std::fprintf(out, "\t</Device>\n");
  }
  std::fprintf(out, "</RAZ%s>\n", "Inventory");
}

bool install_succeeded(int32_t value) {
  return value >= 0 && value != kInstallWriteProtect && value != kInstallDriverNotSupported;
}

SuccessMessage success_after_soc_check(int32_t read_status, bool soc_enabled) {
  return read_status == 0 && soc_enabled ? SuccessMessage::kColdBoot : SuccessMessage::kRestart;
}

SuccessMessage success_after_reset(int32_t reset_outcome) {
  switch (reset_outcome) {
    case 0:
      return SuccessMessage::kDone;
    case TSYRETVAL_UNSUPPORTED_OPERATION:
      return SuccessMessage::kResetNotSupported;
    case 2:
      return SuccessMessage::kColdBootPending;
    case 1:
      return SuccessMessage::kRebootPending;
    default:
      return SuccessMessage::kResetFailed;
  }
}

void report_execution_begin() {
  run_settings.report_name = "Execution";
  declaration_and_root(run_settings.report_name);
}

void report_device_open(const SupportedAdapter& adapter) {
  device_and_application_open(adapter);
  std::string_view version;
  if (adapter.package != nullptr) version = field(adapter.package->ver);
  std::fprintf(out_stream(), "\t\t\t<Package version=\"%s\" />\n",
               attribute(version).c_str());
}

uint32_t report_outcome(const InstallResult& result, SuccessMessage success) {
  std::FILE* out = out_stream();
  const bool ok = install_succeeded(result.value);
  std::fprintf(out, "\t\t\t<SPStatus result=\"%s\">\n", ok ? "true" : "false");

  if (result.value == kInstallAntiRollback) {
    message(
        "\t\t\t\t<Message id=\"7\">Update failure. Firmware downgrade is prohibited and blocked "
        "for this release. For further information and details, please contact the support "
        "team.</Message>\n");
    return kResultDowngradeBlocked;
  }
  if (result.value < 0) {
    const std::string name = text(status_name(result.value));
    if (result.item >= 0) {
      std::fprintf(out,
                   "\t\t\t\t<Message id=\"1\">Error installing packaged item #%u: %s (errno: %d, "
                   "%s)</Message>\n",
                   static_cast<unsigned>(result.item) + 1u, name.c_str(), result.errnum,
                   error_text(result.errnum).c_str());
    } else {
      std::fprintf(out,
                   "\t\t\t\t<Message id=\"1\">Error installing package: %s (errno: %d, "
                   "%s)</Message>\n",
                   name.c_str(), result.errnum, error_text(result.errnum).c_str());
    }
    return kResultInstallError;
  }
  if (result.value == kInstallWriteProtect) {
    message(
        "\t\t\t\t<Message id=\"5\">Update failure. Write Protect or System Lockdown "
        "enabled</Message>\n");
    return kResultWriteProtect;
  }
  if (result.value == kInstallDriverNotSupported) {
    message(
        "\t\t\t\t<Message id=\"6\">Update failure. Driver not supported. See release notes for "
        "recommended driver.</Message>\n");
    return kResultDriverNotSupported;
  }

  switch (success) {
    case SuccessMessage::kColdBoot:
      message(
          "\t\t\t\t<Message id=\"0\">Update success. The updated firmware will become effective "
          "after the cold boot.</Message>\n");
      break;
    case SuccessMessage::kRestart:
      message(
          "\t\t\t\t<Message id=\"0\">Update success. The updated firmware will become effective "
          "after restarting the server.</Message>\n");
      break;
    case SuccessMessage::kDone:
      message("\t\t\t\t<Message id=\"0\">Update success</Message>\n");
      break;
    case SuccessMessage::kResetNotSupported:
      message(
          "\t\t\t\t<Message id=\"1\">Update success. Reset not supported. The updated firmware "
          "will become effective after restarting the server.</Message>\n");
      break;
    case SuccessMessage::kColdBootPending:
      message(
          "\t\t\t\t<Message id=\"1\">Update success. Reset cannot proceed as system cold boot "
          "pending. The updated firmware will become effective after restarting the "
          "server.</Message>\n");
      break;
    case SuccessMessage::kRebootPending:
      message(
          "\t\t\t\t<Message id=\"1\">Update success. Reset cannot proceed as system reboot "
          "pending. The updated firmware will become effective after restarting the "
          "server.</Message>\n");
      break;
    case SuccessMessage::kResetFailed:
      message(
          "\t\t\t\t<Message id=\"1\">Update success. Reset failed. The updated firmware will "
          "become effective after restarting the server.</Message>\n");
      break;
  }
  return 0;
}

void report_status_close() { std::fprintf(out_stream(), "\t\t\t</SPStatus>\n"); }

uint32_t report_restore(bool ok) {
  std::FILE* out = out_stream();
  std::fprintf(out, "\t\t\t<SPStatus result=\"%s\">\n", ok ? "true" : "false");
  if (ok)
    message("\t\t\t\t<Message id=\"0\">Restore factory defaults success</Message>\n");
  else
    message("\t\t\t\t<Message id=\"1\">Restore factory defaults failed</Message>\n");
  report_status_close();
  return ok ? 0 : kResultRestoreFailed;
}

void report_device_close() {
  std::FILE* out = out_stream();
  std::fprintf(out, "\t\t</Application>\n");
  std::fprintf(out, "\t</Device>\n");
}

void report_execution_end(bool reboot) {
  std::FILE* out = out_stream();
  if (reboot) std::fprintf(out, "\t<RebootRequired>1</RebootRequired>\n");
  std::fprintf(out, "</RAZ%s>\n", run_settings.report_name);
  std::fflush(out);
}
