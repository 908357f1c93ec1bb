// The failure reporter: message limit, escaping in the XML, raw text in the debug line.
#include "front_end/writers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "front_end/run_settings.h"

namespace {

std::string contents(std::FILE* stream) {
  std::fflush(stream);
  std::rewind(stream);
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, stream)) > 0) text.append(buffer, n);
  return text;
}

std::string report(int id, const std::string& message) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<RAZInventory lang=\"en\">\n"
         "\t<SPStatus result=\"false\">\n\t\t<Message id=\"" + std::to_string(id) + "\">" + message +
         "</Message>\n\t</SPStatus>\n</RAZInventory>\n";
}

struct Case {
  const char* what;
  std::string argument;
  std::string xml_message;
  std::string debug_message;
};

TEST(ReportFailure, WritesTheDebugLineAndTheReport) {
  const std::string long_text(2000, 'a');
  const Case cases[] = {
      {"plain", "x", "Option not supported: 'x'", "Option not supported: 'x'"},
      {"markup escaped in the XML only", "<&>\"", "Option not supported: '&lt;&amp;&gt;\"'",
       "Option not supported: '<&>\"'"},
      {"8-bit text transcoded in the XML only", "\xe9", "Option not supported: '\xC3\xA9'",
       "Option not supported: '\xe9'"},
      // The message is cut at 1023 characters: the prefix is 23 characters.
      {"long message cut", long_text, "Option not supported: '" + std::string(1000, 'a'),
       "Option not supported: '" + std::string(1000, 'a')},
  };
  for (const Case& c : cases) {
    std::FILE* out = std::tmpfile();
    std::FILE* debug = std::tmpfile();
    ASSERT_NE(out, nullptr);
    ASSERT_NE(debug, nullptr);
    run_settings.out = out;
    run_settings.debug = debug;
    EXPECT_EQ(report_failure(10, "Option not supported: '%s'", c.argument.c_str()), 1) << c.what;
    EXPECT_EQ(contents(out), report(10, c.xml_message)) << c.what;
    EXPECT_EQ(contents(debug), "!FAILURE 10: " + c.debug_message + "\n") << c.what;
    run_settings.out = nullptr;
    run_settings.debug = nullptr;
    std::fclose(out);
    std::fclose(debug);
  }
}

}  // namespace
