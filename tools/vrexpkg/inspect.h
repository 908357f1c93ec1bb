// inspect.h: `vrexpkg inspect`, a package file described for people and as JSON.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "tools/vrexpkg/manifest.h"

namespace vrexpkg {

// Kind of an entry's item by its NVM item type: "header image",
// "trailer image", "marker", "VPD" or "plain".
const char* entry_kind(uint16_t dir_type);

// Readable description of the file at path (whose bytes are file): wrapper,
// header, properties, manifest, each entry with its kind and check result,
// trailer and the package verdict.
void inspect_text(const std::string& path, std::span<const uint8_t> file, std::FILE* out);

// The manifest that rebuilds file exactly (manifest_from_file), with "info"
// objects added at the top and in each entry: the verdict and each entry's
// kind and check result. `vrexpkg build` ignores "info".
Json inspect_json(const std::string& path, std::span<const uint8_t> file);

}  // namespace vrexpkg
