// main.cc: vrexpkg, the package tool: build, sign, inspect, validate, keygen.
//
// Exit status: 0 success, 1 failure (including a validate run with an
// unsupported file), 2 usage error.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "package/package.h"
#include "tools/pkgbuild/package_builder.h"
#include "tools/signing/signing.h"
#include "tools/vrexpkg/inspect.h"
#include "tools/vrexpkg/manifest.h"
#if VREXPKG_HAVE_PACKAGE_LIST
#include "front_end/package_list.h"
#endif

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

void print_usage(std::FILE* out) {
  std::fprintf(out,
               "usage: vrexpkg COMMAND [ARGUMENTS]\n"
               "\n"
               "Builds, signs and checks NVM package files.\n"
               "\n"
               "commands:\n"
               "  build MANIFEST -o OUT.pkg [--key KEY.pem]\n"
               "      build a package from a JSON manifest (docs/package-manifest.md)\n"
               "  sign FILE [--key KEY.pem] [--at OFFSET [--length N]]\n"
               "      sign the header image or trailer image that is FILE (or that lies at\n"
               "      OFFSET in FILE) in place and recompute its CRC; inside a package,\n"
               "      also the CRC of the entry whose data it is and the package CRC\n"
               "  inspect FILE [--json]\n"
               "      describe a package: header, properties, manifest, entries, verdict;\n"
               "      --json writes a manifest that builds the same bytes again\n"
               "  validate FILE...\n"
               "      print for each file the package listing that vrexcup prints\n"
               "  keygen -o PREFIX\n"
               "      write a new RSA-2048 key pair to PREFIX.key.pem and PREFIX.pub.pem\n"
               "\n"
               "The default key is the development key %s.\n"
               "Exit status: 0 success, 1 failure, 2 usage error.\n",
               VREXPKG_DEFAULT_KEY);
}

int usage_error(const std::string& message) {
  std::fprintf(stderr, "vrexpkg: %s\nTry 'vrexpkg -h' for help.\n", message.c_str());
  return kExitUsage;
}

int failure(const std::string& message) {
  std::fprintf(stderr, "vrexpkg: %s\n", message.c_str());
  return kExitFailure;
}

bool read_file(const std::string& path, std::vector<uint8_t>* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    *error = path + ": read failed";
    return false;
  }
  return true;
}

// Writes through a temporary file and a rename, so that a failed write never
// leaves a half-written output in place of a good one.
bool write_file(const std::string& path, std::span<const uint8_t> bytes, std::string* error) {
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) {
      *error = temp + ": " + std::strerror(errno);
      return false;
    }
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) {
      *error = temp + ": write failed";
      std::remove(temp.c_str());
      return false;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    *error = path + ": " + std::strerror(errno);
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

bool parse_number(const char* text, uint64_t* out) {
  if (!*text) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(text, &end, 0);
  if (errno != 0 || *end != '\0' || text[0] == '-') return false;
  *out = v;
  return true;
}

std::string directory_of(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? "." : parent.string();
}

// ---------------------------------------------------------------------------

int cmd_build(int argc, char** argv) {
  std::string manifest_path, out_path, key = VREXPKG_DEFAULT_KEY;
  for (int i = 0; i < argc; ++i) {
    std::string a = argv[i];
    if ((a == "-o" || a == "--key") && i + 1 >= argc) return usage_error(std::string(argv[i]) + " needs a value");
    if (a == "-o") out_path = argv[++i];
    else if (a == "--key") key = argv[++i];
    else if (!a.empty() && a[0] == '-') return usage_error(std::string("build: unknown option ") + argv[i]);
    else if (manifest_path.empty()) manifest_path = a;
    else return usage_error(std::string("build: more than one manifest (") + argv[i] + ")");
  }
  if (manifest_path.empty()) return usage_error("build: no manifest given");
  if (out_path.empty()) return usage_error("build: no output given (-o OUT.pkg)");

  std::vector<uint8_t> text;
  std::string error;
  if (!read_file(manifest_path, &text, &error)) return failure(error);
  vrexpkg::Json manifest;
  try {
    manifest = vrexpkg::Json::parse(text.begin(), text.end());
  } catch (const vrexpkg::Json::parse_error& e) {
    return failure(manifest_path + ": not valid JSON: " + e.what());
  }
  vrexpkg::KeySource keys(key);
  pkgbuild::Package package;
  if (!vrexpkg::manifest_to_package(manifest, directory_of(manifest_path), &keys, &package, &error)) {
    return failure(manifest_path + ": " + error);
  }
  const std::vector<uint8_t> bytes = pkgbuild::build_package(package);
  if (!write_file(out_path, bytes, &error)) return failure(error);
  return kExitOk;
}

// Signs the header image or trailer image that is image, in place, and
// rewrites its CRC. Returns its kind, or nullptr (with *error) when image is
// neither kind or signing fails.
const char* sign_image(std::span<uint8_t> image, const pkgbuild::Signer& signer, std::string* error) {
  const size_t n = image.size();
  size_t signed_length = 0;
  const char* kind = nullptr;
  if (n >= 288 && image[0] == 0x54 && image[1] == 0x53 && image[2] == 0x59 && image[3] == 0x1A) {
    kind = "header image";
    signed_length = n - 260;
  } else if (n >= 288 && image[n - 8] == 0x54 && image[n - 7] == 0x72 && image[n - 6] == 0x6C &&
             image[n - 5] == 0x72) {
    kind = "trailer image";
    signed_length = n - 288;
  } else {
    *error = "neither a header image (\"TSY\\x1A\" at its start) nor a trailer image (\"Trlr\" in its last 32 bytes) "
             "of 288 bytes or more";
    return nullptr;
  }
  uint8_t signature[256];
  if (!signer.sign(image.first(signed_length), signature)) {
    *error = "signing failed";
    return nullptr;
  }
  std::memcpy(image.data() + signed_length, signature, sizeof signature);
  const uint32_t crc = pkgbuild::crc32(image.first(n - 4));
  for (size_t i = 0; i < 4; ++i) image[n - 4 + i] = static_cast<uint8_t>(crc >> (8 * i));
  return kind;
}

int cmd_sign(int argc, char** argv) {
  std::string path, key = VREXPKG_DEFAULT_KEY;
  uint64_t at = 0, length = 0;
  bool have_at = false, have_length = false;
  for (int i = 0; i < argc; ++i) {
    std::string a = argv[i];
    if ((a == "--key" || a == "--at" || a == "--length") && i + 1 >= argc) {
      return usage_error(std::string(argv[i]) + " needs a value");
    }
    if (a == "--key") {
      key = argv[++i];
    } else if (a == "--at") {
      if (!parse_number(argv[++i], &at)) return usage_error(std::string("--at: not a number: ") + argv[i]);
      have_at = true;
    } else if (a == "--length") {
      if (!parse_number(argv[++i], &length)) return usage_error(std::string("--length: not a number: ") + argv[i]);
      have_length = true;
    } else if (!a.empty() && a[0] == '-') {
      return usage_error(std::string("sign: unknown option ") + argv[i]);
    } else if (path.empty()) {
      path = a;
    } else {
      return usage_error(std::string("sign: more than one file (") + argv[i] + ")");
    }
  }
  if (path.empty()) return usage_error("sign: no file given");
  if (have_length && !have_at) return usage_error("sign: --length needs --at");

  std::vector<uint8_t> file;
  std::string error;
  if (!read_file(path, &file, &error)) return failure(error);
  if (at > file.size()) return failure(path + ": --at " + std::to_string(at) + " is beyond the file's end");
  if (!have_length) length = file.size() - at;
  if (length > file.size() - at) return failure(path + ": the range runs past the file's end");

  vrexpkg::KeySource keys(key);
  const pkgbuild::Signer* signer = keys.get(&error);
  if (!signer) return failure(error);
  std::span<uint8_t> image(file.data() + at, length);
  const char* kind = sign_image(image, *signer, &error);
  if (!kind) return failure(path + ": at " + std::to_string(at) + ": " + error);
  std::printf("%s: signed the %s at offset %llu, length %llu\n", path.c_str(), kind,
              static_cast<unsigned long long>(at), static_cast<unsigned long long>(length));

  // Inside a package: the entries whose data is this range get its new CRC,
  // and the package CRC follows.
  if (have_at) {
    const vrexpkg::FileShape shape = vrexpkg::file_shape(file);
    if (shape.structured) {
      for (size_t i = 0; i < shape.entries.size(); ++i) {
        const vrexpkg::EntryRecord& r = shape.entries[i];
        if (r.data_in_range && shape.view_offset + r.data_offset == at && r.data_length == length &&
            shape.record_size >= 24) {
          pkgbuild::put_u32(file, shape.view_offset + r.offset + shape.directive_size + 20, pkgbuild::crc32(image));
          std::printf("%s: entry %zu: data_crc32 updated\n", path.c_str(), i);
        }
      }
      if (shape.trailer_length >= 4) {
        const size_t end = shape.view_offset + shape.view.size();
        pkgbuild::put_u32(file, end - 4,
                          pkgbuild::crc32(std::span<const uint8_t>(file).subspan(shape.view_offset, shape.covered_end)));
        std::printf("%s: package CRC updated\n", path.c_str());
      }
    }
  }
  if (!write_file(path, file, &error)) return failure(error);
  return kExitOk;
}

int cmd_inspect(int argc, char** argv) {
  std::string path;
  bool json = false;
  for (int i = 0; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--json") json = true;
    else if (!a.empty() && a[0] == '-') return usage_error(std::string("inspect: unknown option ") + argv[i]);
    else if (path.empty()) path = a;
    else return usage_error(std::string("inspect: more than one file (") + argv[i] + ")");
  }
  if (path.empty()) return usage_error("inspect: no file given");
  std::vector<uint8_t> file;
  std::string error;
  if (!read_file(path, &file, &error)) return failure(error);
  if (json) {
    std::printf("%s\n", vrexpkg::inspect_json(path, file).dump(2).c_str());
  } else {
    vrexpkg::inspect_text(path, file, stdout);
  }
  return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

#if VREXPKG_HAVE_PACKAGE_LIST
__attribute__((format(printf, 1, 2))) void write_line(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
}
#endif

int cmd_validate(int argc, char** argv) {
  if (argc == 0) return usage_error("validate: no file given");
  for (int i = 0; i < argc; ++i) {
    if (argv[i][0] == '-') return usage_error(std::string("validate: unknown option ") + argv[i]);
  }
#if VREXPKG_HAVE_PACKAGE_LIST
  bool all_supported = true;
  for (int i = 0; i < argc; ++i) {
    if (i > 0) std::printf("---\n");
    PackageRecord* record = new PackageRecord();
    package_load_record(argv[i], record);
    all_supported = list_package(record, write_line) && all_supported;
    delete record;
  }
  std::fflush(stdout);
  return all_supported ? kExitOk : kExitFailure;
#else
  return failure("validate: this build of vrexpkg has no package listing");
#endif
}

int cmd_keygen(int argc, char** argv) {
  std::string prefix;
  for (int i = 0; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-o") {
      if (i + 1 >= argc) return usage_error("-o needs a value");
      prefix = argv[++i];
    } else {
      return usage_error(std::string("keygen: unexpected argument ") + argv[i]);
    }
  }
  if (prefix.empty()) return usage_error("keygen: no output prefix given (-o PREFIX)");
  SigningKey key;
  std::string error;
  if (!signing_generate_key(&key, &error)) return failure("keygen: " + error);
  const std::string private_path = prefix + ".key.pem", public_path = prefix + ".pub.pem";
  if (!signing_write_pem(key, private_path, public_path, PrivateKeyFormat::kPkcs8, &error)) {
    return failure("keygen: " + error);
  }
  std::printf("%s\n%s\n", private_path.c_str(), public_path.c_str());
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    print_usage(stderr);
    return kExitUsage;
  }
  const std::string command = argv[1];
  if (command == "-h" || command == "--help" || command == "help") {
    print_usage(stdout);
    return kExitOk;
  }
  int rest = argc - 2;
  char** args = argv + 2;
  if (command == "build") return cmd_build(rest, args);
  if (command == "sign") return cmd_sign(rest, args);
  if (command == "inspect") return cmd_inspect(rest, args);
  if (command == "validate") return cmd_validate(rest, args);
  if (command == "keygen") return cmd_keygen(rest, args);
  return usage_error(std::string("unknown command ") + argv[1]);
}
