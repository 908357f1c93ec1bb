// Replays a fuzz target over files, so that the seed corpus and every input
// kept from a crash run as an ordinary test in builds without libFuzzer.
// Arguments are files or directories (read one level deep).
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int replay_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
    return 1;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int failures = 0;
  size_t inputs = 0;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path arg(argv[i]);
    std::error_code ec;
    if (std::filesystem::is_directory(arg, ec)) {
      for (const auto& entry : std::filesystem::directory_iterator(arg)) {
        if (entry.is_regular_file()) {
          failures += replay_file(entry.path());
          ++inputs;
        }
      }
    } else if (std::filesystem::exists(arg, ec)) {
      failures += replay_file(arg);
      ++inputs;
    }
  }
  std::printf("replayed %zu inputs\n", inputs);
  return failures == 0 ? 0 : 1;
}
