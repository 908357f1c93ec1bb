// dir_search.cc: placeholder; the package file search fills this in.
#include "platform/dir_search.h"

bool dir_search(const std::string&, const std::string&, const std::function<bool(const std::string&)>&) {
  return false;
}
