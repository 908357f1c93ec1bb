// writers.cc: debug_printf, console_printf, report_failure.
#include "front_end/writers.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "front_end/run_settings.h"
#include "front_end/xml_text.h"

void debug_printf(const char* format, ...) {
  std::FILE* stream = run_settings.debug;
  if (stream == nullptr) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(stream, format, args);
  va_end(args);
  std::fflush(stream);
}

void console_printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
}

int report_failure(int id, const char* format, ...) {
  char message[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);

  debug_printf("!FAILURE %d: %s\n", id, message);

  std::FILE* out = run_settings.out != nullptr ? run_settings.out : stdout;
  const char* name = run_settings.report_name;
  std::fprintf(out, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  std::fprintf(out, "<RAZ%s lang=\"en\">\n", name);
  std::fprintf(out, "\t<SPStatus result=\"false\">\n");
  std::fprintf(out, "\t\t<Message id=\"%d\">%s</Message>\n", id, xml_text(message).c_str());
  std::fprintf(out, "\t</SPStatus>\n");
  std::fprintf(out, "</RAZ%s>\n", name);
  return 1;
}

void report_system_error(const char* name) {
  const char* reason = std::strerror(errno);
  if (name != nullptr && name[0] != '\0')
    std::fprintf(stderr, "%s: %s\n", name, reason);
  else
    std::fprintf(stderr, "%s\n", reason);
}
