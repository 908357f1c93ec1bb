// find_files.cc: the package file search: a file pattern such as
// "dir/*.pkg" becomes a sorted list of paths.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "package/package.h"
#include "platform/dir_search.h"

namespace {

// The host's path limit; a longer path would not fit the package record's
// path field, so such an entry is left out of the list.
constexpr size_t kPathMax = kPackagePathMax;

int fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; }

// Byte comparison after folding "A" to "Z" to lower case. Paths equal that
// way are put in plain byte order so the result does not depend on the order
// the host lists them in.
bool path_less(const char* a, const char* b) {
  const auto* x = reinterpret_cast<const unsigned char*>(a);
  const auto* y = reinterpret_cast<const unsigned char*>(b);
  for (;; ++x, ++y) {
    const int fx = fold(*x), fy = fold(*y);
    if (fx != fy) return fx < fy;
    if (*x == 0) break;
  }
  return std::strcmp(a, b) < 0;
}

}  // namespace

void free_file_list(FileList* list) {
  if (list == nullptr) return;
  for (uint64_t i = 0; i < list->count; ++i) std::free(list->paths[i]);
  std::free(list->paths);
  list->paths = nullptr;
  list->count = 0;
}

int find_files(const char* spec, FileList* list) {
  list->count = 0;
  list->paths = nullptr;
  if (spec == nullptr) return FIND_FILES_NONE;

  const std::string text(spec);
  const size_t cut = text.find_last_of("/\\");
  const std::string dir = cut == std::string::npos ? std::string() : text.substr(0, cut + 1);
  const std::string pattern = cut == std::string::npos ? text : text.substr(cut + 1);

  bool out_of_memory = false;
  const bool started = dir_search(dir, pattern, [&](const std::string& name) {
    if (name.empty() || name[0] == '.') return true;
    const size_t length = dir.size() + name.size();
    if (length > kPathMax) return true;
    char** grown = static_cast<char**>(std::realloc(list->paths, (list->count + 1) * sizeof(char*)));
    if (grown == nullptr) {
      out_of_memory = true;
      return false;
    }
    list->paths = grown;
    char* path = static_cast<char*>(std::malloc(length + 1));
    if (path == nullptr) {
      out_of_memory = true;
      return false;
    }
    std::memcpy(path, dir.data(), dir.size());
    std::memcpy(path + dir.size(), name.data(), name.size());
    path[length] = '\0';
    list->paths[list->count++] = path;
    return true;
  });
  if (out_of_memory) {
    free_file_list(list);
    return FIND_FILES_NO_MEMORY;
  }
  if (!started || list->count == 0) {
    free_file_list(list);
    return FIND_FILES_NONE;
  }
  std::sort(list->paths, list->paths + list->count, path_less);
  return FIND_FILES_OK;
}
