// dir_search.cc: directory enumeration with case-insensitive wildcard
// matching, in portable C++ so that both hosts list the same names.
#include "platform/dir_search.h"

#include <filesystem>
#include <system_error>

namespace {

char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool wildcard_match(std::string_view pattern, std::string_view name) {
  if (pattern == "*.*") pattern = "*";
  // Greedy match with one backtrack point: the last "*" seen and where the
  // name stood then. Linear in practice, never recursive.
  size_t p = 0, n = 0;
  size_t star = std::string_view::npos, star_n = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      star_n = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || fold(pattern[p]) == fold(name[n]))) {
      ++p;
      ++n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++star_n;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool dir_search(const std::string& dir, const std::string& pattern,
                const std::function<bool(const std::string& name)>& visit) {
  // On this host "\\" is an ordinary name byte; the search treats it as a
  // separator, as the Windows host does.
  std::string host_dir(dir.empty() ? std::string_view(".") : std::string_view(dir));
  for (char& c : host_dir) {
    if (c == '\\') c = '/';
  }

  std::error_code ec;
  std::filesystem::directory_iterator it(host_dir, ec);
  if (ec) return false;
  bool matched = false;
  const std::filesystem::directory_iterator end;
  while (it != end) {
    const std::string name = it->path().filename().string();
    if (wildcard_match(pattern, name)) {
      matched = true;
      if (!visit(name)) break;
    }
    it.increment(ec);
    if (ec) break;  // an entry that cannot be read ends the listing
  }
  return matched;
}
