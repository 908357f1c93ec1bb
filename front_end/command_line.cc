// command_line.cc: parsing the command line into the run settings.
#include "front_end/command_line.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "front_end/run_settings.h"
#include "front_end/usage.h"
#include "front_end/writers.h"

RunSettings run_settings;

namespace {

// The program's own path as given in the argument vector, for the usage text.
const char* program_path = "vrexcup";

// The command table; the index is the command number.
constexpr const char* kCommands[] = {"", "version", "inventory", "upgrade", "install"};

// Finds the next run of characters other than sep at or after text. Returns
// its start (nullptr when none) and stores its length.
const char* next_run(const char* text, char sep, size_t* length) {
  while (*text == sep) ++text;
  if (*text == '\0') return nullptr;
  const char* end = std::strchr(text, sep);
  *length = end != nullptr ? static_cast<size_t>(end - text) : std::strlen(text);
  return text;
}

bool starts_with(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Opens the -out= or -debug= file. Returns nullptr after the system's error
// report when it cannot be opened.
std::FILE* open_stream(const char* name) {
  std::FILE* stream = std::fopen(name, "w");
  if (stream == nullptr) report_system_error(name);
  return stream;
}

// The getoption form (exactly two arguments, the second naming getoption).
// Returns -1 when its arguments are good and the run goes on, else 1.
// After the checks of the second argument, a first argument that names -dev
// must give a device name of 1 to 255 characters: "-dev=" alone, or a longer
// name, is refused with its own error line (a name is never cut, so the run
// can never act on another adapter than the one named). Without -dev the
// selector stays empty and the selection finds no adapter of that name.
int parse_getoption_form(const char* device, bool device_named, const char* value) {
  GetoptionArgs args;
  if (const char* error = parse_getoption_value(value, &args)) {
    console_printf("%s", error);
    return 1;
  }
  if (device_named) {
    if (device == nullptr) {
      console_printf("Error: please specify the device name\n");
      return 1;
    }
    if (std::strlen(device) >= kDeviceSelectorSize) {
      console_printf("Error: device name too long (at most %zu characters)\n",
                     kDeviceSelectorSize - 1);
      return 1;
    }
  }
  if (device != nullptr) std::strcpy(run_settings.device_selector, device);
  run_settings.option_number = args.option_number;
  run_settings.port = args.port;
  return -1;
}

// One argument that begins with "-". Returns -1 to go on, else the exit status.
int parse_option(const char* argument) {
  const char* text = argument;
  while (*text == '-') ++text;

  if (starts_with(text, "pkgs=")) {
    run_settings.package_spec = text + 5;
  } else if (starts_with(text, "out=")) {
    std::FILE* stream = open_stream(text + 4);
    if (stream == nullptr) return 1;
    run_settings.out = stream;
  } else if (std::strcmp(text, "bydate") == 0) {
    run_settings.by_date = true;
  } else if (starts_with(text, "debug=")) {
    std::FILE* stream = open_stream(text + 6);
    if (stream == nullptr) return 1;
    run_settings.debug = stream;
  } else if (std::strcmp(text, "debug") == 0) {
    run_settings.debug = stdout;
  } else if (std::strcmp(text, "restore_factory_defaults") == 0) {
    run_settings.restore_factory_defaults = true;
  } else if (text[0] == '?' || text[0] == 'h') {
    print_usage(program_path);
    return 0;
  } else {
    return report_failure(10, "Option not supported: '%s'", text);
  }
  return -1;
}

// One command word. Returns -1 to go on, else the exit status.
int parse_command_word(const char* argument) {
  for (unsigned k = 0; k < std::size(kCommands); ++k) {
    if (std::strcmp(argument, kCommands[k]) != 0) continue;
    if (run_settings.command != COMMAND_NONE)
      return report_failure(30, "Only one command supported per invocation: '%s'", argument);
    run_settings.command = k;
    return -1;
  }
  return report_failure(20, "Command not supported: '%s'", argument);
}

}  // namespace

int32_t read_number(const char* text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  long long value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + (*text - '0');
    if (value > static_cast<long long>(INT32_MAX) + 1) break;  // held at the limit below
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

char* split_device_argument(char* argument) {
  char* text = argument;
  while (*text == '=') ++text;
  char* end = std::strchr(text, '=');
  if (end == nullptr) return nullptr;  // one run only (or none)
  *end = '\0';
  text = end + 1;
  while (*text == '=') ++text;
  if (*text == '\0') return nullptr;
  end = std::strchr(text, '=');
  if (end != nullptr) *end = '\0';
  return text;
}

const char* parse_getoption_value(const char* argument, GetoptionArgs* out) {
  const char* equals = std::strchr(argument, '=');
  if (equals == nullptr) return "Error: Expected '='\n";
  if (equals[1] == '\0') return "Error : please specify the option number\n";

  // The value is the second run of characters other than "=".
  size_t length = 0;
  const char* first = next_run(argument, '=', &length);
  const char* value = first != nullptr ? next_run(first + length, '=', &length) : nullptr;
  if (value == nullptr) return "Error : please specify the option number\n";
  if (length >= kGetoptionValueSize) return "Error: option value too long (at most 255 characters)\n";
  char buffer[kGetoptionValueSize] = {};
  std::memcpy(buffer, value, length);

  const char* colon = std::strchr(buffer, ':');
  if (colon == nullptr) return "Error: Expected ':'\n";
  if (colon[1] == '\0') return "Error: please specify the port number\n";

  size_t option_length = 0;
  const char* option = next_run(buffer, ':', &option_length);
  size_t port_length = 0;
  const char* port = option != nullptr ? next_run(option + option_length, ':', &port_length) : nullptr;
  if (port == nullptr) return "Error: please specify the port number\n";
  out->option_number = read_number(std::string(option, option_length).c_str());
  out->port = read_number(std::string(port, port_length).c_str());
  return nullptr;
}

int parse_command_line(int argc, char** argv) {
  run_settings.out = stdout;
  run_settings.device_selector[0] = '\0';
  if (argc > 0 && argv[0] != nullptr) program_path = argv[0];

  if (argc == 3) {
    const char* device = nullptr;
    bool device_named = std::strstr(argv[1], "-dev") != nullptr;
    if (device_named) device = split_device_argument(argv[1]);
    if (std::strstr(argv[2], "getoption") != nullptr) {
      run_settings.getoption = true;
      return parse_getoption_form(device, device_named, argv[2]);
    }
  }

  if (argc < 2) {
    print_usage(program_path);
    return 0;
  }

  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    int status = argument[0] == '-' ? parse_option(argument) : parse_command_word(argument);
    if (status >= 0) return status;
  }

  switch (run_settings.command) {
    case COMMAND_NONE:
      print_usage(program_path);
      return 0;
    case COMMAND_VERSION:
      print_version();
      return 0;
    default:
      return -1;
  }
}
