// command_line.h: the command line, from the argument vector to a run.
#pragma once

#include <cstdint>

// The option number and port of the getoption form's second argument.
struct GetoptionArgs {
  int32_t option_number = 0;
  int32_t port = 0;
};

// Checks the getoption form's second argument ("getoption=<option>:<port>")
// and reads its two numbers into out. Returns nullptr when it is good, else
// the error line to print on standard output (the run then ends with 1).
const char* parse_getoption_value(const char* argument, GetoptionArgs* out);

// Splits the getoption form's first argument in place at its "=" characters
// (a terminator over the one that ends the first run of other characters and
// over the one that ends the second) and returns the second run, the device
// selector, or nullptr when there is none.
char* split_device_argument(char* argument);

// Reads text as a signed base-10 number the way the getoption form does:
// leading blanks, an optional sign, digits; anything else reads as 0 and a
// value beyond the 32-bit range is held at the nearest limit.
int32_t read_number(const char* text);

// Parses the command line into run_settings and opens the streams it names.
// Returns -1 when the run goes on (run_settings.command and .getoption say
// how), otherwise the exit status: usage, version, an argument error, a file
// that cannot be opened, or a numbered failure (already reported).
int parse_command_line(int argc, char** argv);

// The program: parses the command line and carries out the run.
int vrexcup_main(int argc, char** argv);
