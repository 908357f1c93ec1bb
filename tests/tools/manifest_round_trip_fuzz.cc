// Fuzz target: any file, described as a manifest (through JSON text) and
// built again, gives back exactly its bytes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "tools/vrexpkg/manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> file(data, size);
  const vrexpkg::Json described = vrexpkg::Json::parse(vrexpkg::manifest_from_file(file).dump());
  pkgbuild::Package package;
  std::string error;
  // No key: a described file never asks for a signature.
  if (!vrexpkg::manifest_to_package(described, "", nullptr, &package, &error)) std::abort();
  const pkgbuild::Bytes rebuilt = pkgbuild::build_package(package);
  if (rebuilt.size() != size || !std::equal(rebuilt.begin(), rebuilt.end(), data)) std::abort();
  return 0;
}
