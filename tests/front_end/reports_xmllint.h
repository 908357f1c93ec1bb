// reports_xmllint.h: validates a report against docs/reports.xsd with
// xmllint.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace reptest {

// Writes xml to a file and runs xmllint --noout --schema on it: true when
// the document is well-formed and valid; *output gets xmllint's words.
inline bool report_is_valid(const std::string& xml, std::string* output) {
  static int serial = 0;
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() /
      ("vrex-report-" + std::to_string(::getpid()) + "-" + std::to_string(++serial) + ".xml");
  std::ofstream(file, std::ios::binary) << xml;
  const std::string command = "xmllint --noout --schema '" VREX_SOURCE_DIR
                              "/docs/reports.xsd' '" + file.string() + "' 2>&1";
  output->clear();
  bool valid = false;
  if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[512];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output->append(buffer, n);
    valid = ::pclose(pipe) == 0;
  } else {
    *output = "cannot run xmllint";
  }
  std::error_code ec;
  std::filesystem::remove(file, ec);
  return valid;
}

// The test fails, naming what, unless the report is valid.
inline void expect_valid_report(const std::string& xml, const std::string& what) {
  std::string output;
  EXPECT_TRUE(report_is_valid(xml, &output)) << what << ":\n" << output << "\n" << xml;
}

}  // namespace reptest
