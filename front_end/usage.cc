// usage.cc: the usage and version texts.
#include "front_end/usage.h"

#include "front_end/build_info.h"
#include "front_end/writers.h"

const char kProgramTitle[] =
    "Tessaly Vantera-C/E Corrin Update Package (CUP) Inventory and Update Program";

namespace {

struct UsageLine {
  const char* name;
  const char* description;
};

constexpr UsageLine kCommandLines[] = {
    {"version", "display program version details"},
    {"inventory", "generate inventory report (in XML)"},
    {"upgrade", "upgrade NVM packages (only if newer)"},
    {"install", "install NVM packages (force downgrade if necessary)"},
    {"getoption", "gets individual NVM cfg option values, usage: getoption=option:port"},
};

// "-?" is accepted as well but not listed; "-dev" is understood only in the
// two-argument getoption form.
constexpr UsageLine kOptionLines[] = {
    {"-out=<fname>", "specify file to send output to (default: stdout)"},
    {"-dev=\"dev name\"", "device selector"},
    {"-pkgs=<fspec>", "specify package file path and files (default: \"*.pkg\")"},
    {"-bydate", "upgrade based on package date/time-stamp, not version"},
    {"-debug", "send debug output to stdout"},
    {"-debug=<fname>", "send debug output to log file"},
    {"-restore_factory_defaults", "Restores NVM configuration to factory defaults"},
    {"-h", "display this help text"},
};

// The program's version and the discovery library interface version it asks for.
constexpr unsigned kVersion[4] = {238, 1, 185, 0};
constexpr unsigned kNdamVersion[3] = {216, 0, 41};

}  // namespace

void print_usage(const char* program) {
  console_printf("usage: %s [-option [...]] <command>\n", program);
  console_printf("\n%s\n", kProgramTitle);
  console_printf("\ncommands:\n");
  for (const UsageLine& line : kCommandLines) console_printf("%-30s %s\n", line.name, line.description);
  console_printf("\noptions:\n");
  for (const UsageLine& line : kOptionLines) console_printf("%-30s %s\n", line.name, line.description);
}

void print_version() {
  console_printf("%s\n", kProgramTitle);
  console_printf("Version %u.%u.%u.%u (NDAM %u.%u.%u) for %s", kVersion[0], kVersion[1], kVersion[2],
                 kVersion[3], kNdamVersion[0], kNdamVersion[1], kNdamVersion[2], "Win64");
  console_printf(" built %s %s", build_date, build_time);
  console_printf("\n%s %s", "HEAD", build_revision);
  console_printf(" by %s", build_account);
  console_printf("\n");
}
