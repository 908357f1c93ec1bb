// usage.h: the usage and version texts, on standard output.
#pragma once

// The program title that both texts print.
extern const char kProgramTitle[];

// The usage text; program is the program's path as given in argv[0].
void print_usage(const char* program);

// The version text: title, version with the build stamp, revision and account.
void print_version();
