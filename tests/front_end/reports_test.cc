// The inventory and execution reports, line for line, each validated against
// the report schema, with values that hold markup, control and 8-bit
// characters.
#include "front_end/reports.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "front_end/run_settings.h"
#include "front_end/writers.h"
#include "tests/front_end/reports_xmllint.h"

namespace {

using reptest::expect_valid_report;

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

// What the writers put on the output stream while body runs; the report
// name is put back afterwards.
std::string written(const std::function<void()>& body) {
  std::FILE* out = std::tmpfile();
  EXPECT_NE(out, nullptr);
  run_settings.out = out;
  body();
  run_settings.out = nullptr;
  run_settings.report_name = "Inventory";
  std::fflush(out);
  std::rewind(out);
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, out)) > 0) text.append(buffer, n);
  std::fclose(out);
  return text;
}

PhyNic nic(const char* name, uint16_t device_id, uint16_t subsys_id, int32_t bus,
           int32_t device, int32_t function) {
  PhyNic n{};
  std::snprintf(n.name, sizeof n.name, "%s", name);
  n.vendor_id = 0xE7A5;
  n.device_id = device_id;
  n.subsys_vendor_id = 0xE7A5;
  n.subsys_id = subsys_id;
  n.bus = bus;
  n.device = device;
  n.function = function;
  return n;
}

SupportedAdapter record(const PhyNic* n, const char* version, const char* description) {
  SupportedAdapter a{};
  a.nic = n;
  std::snprintf(a.installed_version, sizeof a.installed_version, "%s", version);
  std::snprintf(a.installed_description, sizeof a.installed_description, "%s", description);
  a.result.item = -1;
  return a;
}

// A name with every kind of character the escaping has to handle, and its
// form in an attribute.
const char* const kHostile = "Port \"A\" & <B> 'q'\x01\t\xe9\x80";
const std::string kHostileAttribute =
    "Port &quot;A&quot; &amp; &lt;B&gt; 'q'\xEF\xBF\xBD&#9;\xC3\xA9\xE2\x82\xAC";

TEST(InventoryReport, WithoutAdapters) {
  std::string xml = written([] { write_inventory_report(nullptr, 0); });
  EXPECT_EQ(xml, kDeclaration + "<RAZInventory lang=\"en\">\n</RAZInventory>\n");
  expect_valid_report(xml, "empty inventory");
}

TEST(InventoryReport, OneDeviceElementPerRecordTwinsIncluded) {
  PhyNic first = nic(kHostile, 0x7A81, 0x0211, 59, 0, 0);
  PhyNic second = nic("Adapter #2", 0x7A81, 0x0211, 59, 0, 1);
  SupportedAdapter records[2] = {record(&first, "22.31.6.0 <beta>", "Boot & \"UEFI\"\r\n"),
                                 record(&second, "", "")};
  records[1].twin_of = &records[0];
  std::string xml = written([&] { write_inventory_report(records, 2); });
  EXPECT_EQ(xml,
            kDeclaration + "<RAZInventory lang=\"en\">\n"
            "\t<Device vendorID=\"e7a5\" deviceID=\"7a81\" subVendorID=\"e7a5\" "
            "subDeviceID=\"0211\" bus=\"59\" device=\"0\" function=\"0\" display=\"" +
                kHostileAttribute + "\">\n"
            "\t\t<Application componentType=\"FRMW\" version=\"22.31.6.0 &lt;beta&gt;\" "
            "display=\"Boot &amp; &quot;UEFI&quot;&#13;&#10;\">\n"
            "\t\t</Application>\n"
            "\t</Device>\n"
            "\t<Device vendorID=\"e7a5\" deviceID=\"7a81\" subVendorID=\"e7a5\" "
            "subDeviceID=\"0211\" bus=\"59\" device=\"0\" function=\"1\" "
            "display=\"Adapter #2\">\n"
            "\t\t<Application componentType=\"FRMW\" version=\"\" display=\"\">\n"
            "\t\t</Application>\n"
            "\t</Device>\n"
            "</RAZInventory>\n");
  expect_valid_report(xml, "two functions");
}

TEST(ExecutionReport, InstallResults) {
  errno = 0;
  const std::string enoent = std::strerror(ENOENT);
  struct Case {
    InstallResult result;
    SuccessMessage success;
    const char* status;
    std::string message;
    uint32_t flag;
  };
  const Case cases[] = {
      {{-151, 2, 0}, SuccessMessage::kDone, "false",
       "<Message id=\"7\">Update failure. Firmware downgrade is prohibited and blocked for this "
       "release. For further information and details, please contact the support "
       "team.</Message>",
       0x40},
      // The item named is counted from 1.
      {{-1, 2, ENOENT, }, SuccessMessage::kDone, "false",
       "<Message id=\"1\">Error installing packaged item #3: FAILURE (errno: 2, " + enoent +
           ")</Message>",
       0x10},
      {{-1, 0, 0}, SuccessMessage::kDone, "false",
       "<Message id=\"1\">Error installing packaged item #1: FAILURE (errno: 0, " +
           std::string(std::strerror(0)) + ")</Message>",
       0x10},
      {{-158, -1, ENOENT}, SuccessMessage::kDone, "false",
       "<Message id=\"1\">Error installing package: NVM_WRITE_CMD_ERR_CODE_NO_SPACE (errno: 2, " +
           enoent + ")</Message>",
       0x10},
      {{-9999, -1, ENOENT}, SuccessMessage::kDone, "false",
       "<Message id=\"1\">Error installing package: Unknown: -9999 (errno: 2, " + enoent +
           ")</Message>",
       0x10},
      {{17, -1, 0}, SuccessMessage::kDone, "false",
       "<Message id=\"5\">Update failure. Write Protect or System Lockdown enabled</Message>",
       0x04},
      {{65535, -1, 0}, SuccessMessage::kDone, "false",
       "<Message id=\"6\">Update failure. Driver not supported. See release notes for "
       "recommended driver.</Message>",
       0x08},
      {{0, -1, 0}, SuccessMessage::kColdBoot, "true",
       "<Message id=\"0\">Update success. The updated firmware will become effective after the "
       "cold boot.</Message>",
       0},
      {{0, -1, 0}, SuccessMessage::kRestart, "true",
       "<Message id=\"0\">Update success. The updated firmware will become effective after "
       "restarting the server.</Message>",
       0},
      {{0, -1, 0}, SuccessMessage::kDone, "true", "<Message id=\"0\">Update success</Message>", 0},
      // Any non-negative result other than 17 and 65535 is a success.
      {{18, -1, 0}, SuccessMessage::kResetNotSupported, "true",
       "<Message id=\"1\">Update success. Reset not supported. The updated firmware will become "
       "effective after restarting the server.</Message>",
       0},
      {{65536, -1, 0}, SuccessMessage::kColdBootPending, "true",
       "<Message id=\"1\">Update success. Reset cannot proceed as system cold boot pending. The "
       "updated firmware will become effective after restarting the server.</Message>",
       0},
      {{1, -1, 0}, SuccessMessage::kRebootPending, "true",
       "<Message id=\"1\">Update success. Reset cannot proceed as system reboot pending. The "
       "updated firmware will become effective after restarting the server.</Message>",
       0},
      {{0, -1, 0}, SuccessMessage::kResetFailed, "true",
       "<Message id=\"1\">Update success. Reset failed. The updated firmware will become "
       "effective after restarting the server.</Message>",
       0},
  };
  PhyNic n = nic("Vantera-C 10G", 0x7A45, 0x0105, 24, 0, 0);
  PackageRecord package{};
  std::snprintf(package.ver, sizeof package.ver, "%s", "22.31.6.0");
  for (const Case& c : cases) {
    SupportedAdapter a = record(&n, "21.80.1.0", "Vantera-C firmware");
    a.package = &package;
    a.result = c.result;
    uint32_t flag = 99;
    std::string xml = written([&] {
      report_execution_begin();
      report_device_open(a);
      flag = report_outcome(a.result, c.success);
      report_status_close();
      report_device_close();
      report_execution_end(false);
    });
    EXPECT_EQ(flag, c.flag) << c.message;
    EXPECT_EQ(xml,
              kDeclaration + "<RAZExecution lang=\"en\">\n"
              "\t<Device vendorID=\"e7a5\" deviceID=\"7a45\" subVendorID=\"e7a5\" "
              "subDeviceID=\"0105\" bus=\"24\" device=\"0\" function=\"0\" "
              "display=\"Vantera-C 10G\">\n"
              "\t\t<Application componentType=\"FRMW\" version=\"21.80.1.0\" "
              "display=\"Vantera-C firmware\">\n"
              "\t\t\t<Package version=\"22.31.6.0\" />\n"
              "\t\t\t<SPStatus result=\"" + c.status + "\">\n"
              "\t\t\t\t" + c.message + "\n"
              "\t\t\t</SPStatus>\n"
              "\t\t</Application>\n"
              "\t</Device>\n"
              "</RAZExecution>\n");
    expect_valid_report(xml, c.message);
  }
}

TEST(ExecutionReport, RestoreBlocksRebootLineAndTheFlush) {
  PhyNic first = nic(kHostile, 0x7A81, 0x0211, 59, 0, 0);
  PhyNic second = nic("Adapter #2", 0x7A81, 0x0211, 59, 0, 1);
  PackageRecord package{};
  std::snprintf(package.ver, sizeof package.ver, "%s", "23.0 \"rc\" & <x>");
  SupportedAdapter records[2] = {record(&first, "22.1", "desc"), record(&second, "22.1", "desc")};
  records[0].package = &package;
  records[1].package = &package;
  records[1].twin_of = &records[0];

  // The report goes to a named file, read before the file is closed: the
  // end of the report flushes the stream.
  const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("vrex-execution-" + std::to_string(::getpid()) + ".xml");
  std::FILE* out = std::fopen(path.c_str(), "w");
  ASSERT_NE(out, nullptr);
  run_settings.out = out;
  uint32_t flags = 0;
  report_execution_begin();
  EXPECT_STREQ(run_settings.report_name, "Execution");
  const bool restored[2] = {true, false};
  for (int k = 0; k < 2; ++k) {
    report_device_open(records[k]);
    flags |= report_outcome(records[k].result, SuccessMessage::kDone);
    report_status_close();
    flags |= report_restore(restored[k]);
    report_device_close();
  }
  report_execution_end(true);
  std::stringstream seen;
  seen << std::ifstream(path, std::ios::binary).rdbuf();
  run_settings.out = nullptr;
  run_settings.report_name = "Inventory";
  std::fclose(out);
  std::filesystem::remove(path);

  EXPECT_EQ(flags, 0x20u);
  const std::string device_lines[2] = {
      "\t<Device vendorID=\"e7a5\" deviceID=\"7a81\" subVendorID=\"e7a5\" subDeviceID=\"0211\" "
      "bus=\"59\" device=\"0\" function=\"0\" display=\"" + kHostileAttribute + "\">\n",
      "\t<Device vendorID=\"e7a5\" deviceID=\"7a81\" subVendorID=\"e7a5\" subDeviceID=\"0211\" "
      "bus=\"59\" device=\"0\" function=\"1\" display=\"Adapter #2\">\n"};
  const std::string restore_lines[2] = {
      "\t\t\t<SPStatus result=\"true\">\n"
      "\t\t\t\t<Message id=\"0\">Restore factory defaults success</Message>\n"
      "\t\t\t</SPStatus>\n",
      "\t\t\t<SPStatus result=\"false\">\n"
      "\t\t\t\t<Message id=\"1\">Restore factory defaults failed</Message>\n"
      "\t\t\t</SPStatus>\n"};
  std::string expected = kDeclaration + "<RAZExecution lang=\"en\">\n";
  for (int k = 0; k < 2; ++k) {
    expected += device_lines[k] +
                "\t\t<Application componentType=\"FRMW\" version=\"22.1\" display=\"desc\">\n"
                "\t\t\t<Package version=\"23.0 &quot;rc&quot; &amp; &lt;x&gt;\" />\n"
                "\t\t\t<SPStatus result=\"true\">\n"
                "\t\t\t\t<Message id=\"0\">Update success</Message>\n"
                "\t\t\t</SPStatus>\n" +
                restore_lines[k] + "\t\t</Application>\n\t</Device>\n";
  }
  expected += "\t<RebootRequired>1</RebootRequired>\n</RAZExecution>\n";
  EXPECT_EQ(seen.str(), expected);
  expect_valid_report(seen.str(), "restore blocks and reboot line");
}

TEST(ExecutionReport, NothingProcessed) {
  std::string xml = written([] {
    report_execution_begin();
    report_execution_end(false);
  });
  EXPECT_EQ(xml, kDeclaration + "<RAZExecution lang=\"en\">\n</RAZExecution>\n");
  expect_valid_report(xml, "empty execution");
}

TEST(ExecutionReport, SuccessClasses) {
  struct Result {
    int32_t value;
    bool success;
  };
  for (Result r : {Result{-151, false}, Result{-1, false}, Result{17, false},
                   Result{65535, false}, Result{0, true}, Result{1, true}, Result{16, true},
                   Result{18, true}, Result{65534, true}, Result{65536, true}})
    EXPECT_EQ(install_succeeded(r.value), r.success) << r.value;

  struct Reset {
    int32_t outcome;
    SuccessMessage message;
  };
  for (Reset r : {Reset{0, SuccessMessage::kDone}, Reset{-58, SuccessMessage::kResetNotSupported},
                  Reset{2, SuccessMessage::kColdBootPending},
                  Reset{1, SuccessMessage::kRebootPending},
                  Reset{-1, SuccessMessage::kResetFailed}, Reset{3, SuccessMessage::kResetFailed}})
    EXPECT_EQ(success_after_reset(r.outcome), r.message) << r.outcome;

  EXPECT_EQ(success_after_soc_check(0, true), SuccessMessage::kColdBoot);
  EXPECT_EQ(success_after_soc_check(0, false), SuccessMessage::kRestart);
  EXPECT_EQ(success_after_soc_check(-41, true), SuccessMessage::kRestart);
}

// The failure report shares the schema: every numbered failure's message,
// whatever the text it quotes.
TEST(FailureReport, ValidWhateverTheMessageQuotes) {
  for (int id : {10, 20, 30, 40, 110}) {
    std::string xml = written([&] { report_failure(id, "Option not supported: '%s'", kHostile); });
    expect_valid_report(xml, "failure " + std::to_string(id));
  }
}

// The schema itself refuses what a reader of the reports would: a check
// that xmllint and the schema are in use at all.
TEST(ReportSchema, RefusesMisshapenReports) {
  const std::string bad[] = {
      kDeclaration + "<RAZInventory lang=\"en\"><Device/></RAZInventory>\n",
      kDeclaration + "<RAZExecution lang=\"en\"><SPStatus result=\"yes\"><Message id=\"1\">x"
                     "</Message></SPStatus></RAZExecution>\n",
      kDeclaration + "<RAZInventory lang=\"en\">\n\t<X a=\"\"\"/>\n</RAZInventory>\n",
  };
  for (const std::string& xml : bad) {
    std::string output;
    EXPECT_FALSE(reptest::report_is_valid(xml, &output)) << xml;
  }
}

}  // namespace
