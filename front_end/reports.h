// reports.h: the inventory and execution reports on the output stream.
//
// Every value is transcoded and escaped (front_end/xml_text.h), so a report
// stays well-formed whatever adapter names, descriptions, versions or system
// error texts hold.
#pragma once

#include <cstddef>
#include <cstdint>

#include "front_end/supported_adapter.h"

// The whole inventory report: one Device element with its Application for
// every record (twins included), in order.
void write_inventory_report(const SupportedAdapter* adapters, size_t count);

// Exit flags of an execution run.
inline constexpr uint32_t kResultWriteProtect = 0x04;
inline constexpr uint32_t kResultDriverNotSupported = 0x08;
inline constexpr uint32_t kResultInstallError = 0x10;
inline constexpr uint32_t kResultRestoreFailed = 0x20;
inline constexpr uint32_t kResultDowngradeBlocked = 0x40;

// Install results with a meaning of their own.
inline constexpr int32_t kInstallAntiRollback = -151;
inline constexpr int32_t kInstallWriteProtect = 17;
inline constexpr int32_t kInstallDriverNotSupported = 65535;

// Every result that is neither negative nor 17 nor 65535.
bool install_succeeded(int32_t value);

// The success message of a successful install.
enum class SuccessMessage {
  kColdBoot,           // family below 8, secure SoC enabled
  kRestart,            // family below 8, otherwise
  kDone,               // reset outcome 0
  kResetNotSupported,  // reset outcome -58
  kColdBootPending,    // reset outcome 2
  kRebootPending,      // reset outcome 1
  kResetFailed,        // any other reset outcome
};
// For families below 8, from the secure-SoC read.
SuccessMessage success_after_soc_check(int32_t read_status, bool soc_enabled);
// For families 8 and above, from the reset outcome.
SuccessMessage success_after_reset(int32_t reset_outcome);

// Sets the report name to "Execution" and writes the declaration and the
// root open line.
void report_execution_begin();
// The Device, Application and Package open lines of one record.
void report_device_open(const SupportedAdapter& adapter);
// The SPStatus open line and the outcome's message line; success is used
// only when install_succeeded(result.value). Returns the exit flag of the
// outcome (0 for a success).
uint32_t report_outcome(const InstallResult& result, SuccessMessage success);
// The SPStatus close line.
void report_status_close();
// The whole second SPStatus element of a factory-default restore. Returns
// kResultRestoreFailed when ok is false, else 0.
uint32_t report_restore(bool ok);
// The Application and Device close lines.
void report_device_close();
// The RebootRequired line when reboot is set, the root close line, then the
// one flush of the output stream.
void report_execution_end(bool reboot);
