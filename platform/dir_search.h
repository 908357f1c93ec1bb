// dir_search.h: directory enumeration with wildcard matching, as the host's
// file search does it (on Windows, names compare without regard to case).
#pragma once

#include <functional>
#include <string>
#include <string_view>

// Calls visit(name) for each entry of directory dir ("" is the current
// directory) whose name matches pattern ("*" any run, "?" any one character,
// without regard to case), in the order the host lists them. Both "/" and
// "\" separate directories in dir. visit returns false to end the walk early.
// Returns false when the enumeration cannot start or nothing matches.
bool dir_search(const std::string& dir, const std::string& pattern,
                const std::function<bool(const std::string& name)>& visit);

// The matching rule dir_search uses: ASCII letters compare without regard to
// case; "*.*" matches every name, as on the Windows host.
bool wildcard_match(std::string_view pattern, std::string_view name);
