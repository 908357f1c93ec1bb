// status.cc: names of the TSYRETVAL status codes.
#include <cstdio>

#include "package/package.h"

const char* status_name(int32_t code) {
  switch (code) {
#define VREX_TSYRETVAL_NAME(name, value) \
  case value:                            \
    return #name;
    VREX_TSYRETVAL_CODES(VREX_TSYRETVAL_NAME)
#undef VREX_TSYRETVAL_NAME
    default:
      break;
  }
  // One static buffer, as callers are told: the next unknown lookup overwrites it.
  static char unknown[32];
  std::snprintf(unknown, sizeof unknown, "Unknown: %d", code);
  return unknown;
}
