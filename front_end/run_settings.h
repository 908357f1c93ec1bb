// run_settings.h: the process-wide settings that the command line sets.
//
// They are written only while the command line is parsed and only read
// afterwards; the writers and every later step of a run read them from here.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Command numbers: the index of the word in the command table.
enum Command : unsigned {
  COMMAND_NONE = 0,
  COMMAND_VERSION = 1,
  COMMAND_INVENTORY = 2,
  COMMAND_UPGRADE = 3,
  COMMAND_INSTALL = 4,
};

constexpr size_t kDeviceSelectorSize = 256;  // at most 255 characters
constexpr size_t kGetoptionValueSize = 256;

struct RunSettings {
  std::FILE* out = nullptr;      // the XML stream; standard output unless -out=
  std::FILE* debug = nullptr;    // diagnostic lines; none unless -debug or -debug=
  std::string package_spec = "*.pkg";
  bool by_date = false;
  bool restore_factory_defaults = false;
  unsigned command = COMMAND_NONE;
  bool getoption = false;
  char device_selector[kDeviceSelectorSize] = {};
  int32_t option_number = 0;
  int32_t port = 0;
  const char* report_name = "Inventory";  // "Execution" once an execution report begins
};

extern RunSettings run_settings;
