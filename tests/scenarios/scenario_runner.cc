// scenario_runner.cc: runs scenario files (docs/scenarios.md) against vrexcup.
//
//   scenario_runner --program PATH [--vrexpkg PATH] [--keep] FILE...
//
// Each scenario runs in a fresh temporary directory: its packages are built
// with vrexpkg, its files written, the program run with the scenario's
// arguments (argv[0] is "vrexcup"), and the exit status, standard output,
// standard error and named output files compared with the expected ones.
// The directory is removed after a pass and kept (its path printed) after a
// failure. Exit status: 0 when every scenario passed, 1 otherwise.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kTimeoutSeconds = 120;

struct Section {
  std::string kind;      // "args", "stdout", "file", ...
  std::string argument;  // the rest of the header line (a file name, say)
  std::vector<std::string> lines;
  int line_number = 0;   // of the header
};

struct Scenario {
  fs::path file;
  std::string name;
  std::string keywords;
  std::vector<Section> sections;
};

struct Options {
  std::string program;
  std::string vrexpkg;
  std::string vrexsim;
  std::string schema;
  bool keep = false;
};

std::string read_file(const fs::path& path, bool* ok = nullptr) {
  std::ifstream in(path, std::ios::binary);
  if (ok != nullptr) *ok = static_cast<bool>(in);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool write_file(const fs::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  return static_cast<bool>(out);
}

std::string trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Reads a scenario file. Returns false with *error set when it is malformed.
bool parse_scenario(const fs::path& file, Scenario* out, std::string* error) {
  bool ok = false;
  std::string text = read_file(file, &ok);
  if (!ok) {
    *error = "cannot read " + file.string();
    return false;
  }
  out->file = file;
  std::istringstream in(text);
  std::string line;
  int number = 0;
  Section* current = nullptr;
  while (std::getline(in, line)) {
    ++number;
    if (line.rfind("@@ ", 0) == 0) {
      Section section;
      std::string header = line.substr(3);
      size_t blank = header.find(' ');
      section.kind = header.substr(0, blank);
      if (blank != std::string::npos) section.argument = header.substr(blank + 1);
      section.line_number = number;
      out->sections.push_back(section);
      current = &out->sections.back();
      continue;
    }
    if (current != nullptr) {
      current->lines.push_back(line);
      continue;
    }
    if (line.empty() || line[0] == '#') continue;
    if (line.rfind("name:", 0) == 0) {
      out->name = trim(line.substr(5));
    } else if (line.rfind("keywords:", 0) == 0) {
      out->keywords = trim(line.substr(9));
    } else {
      *error = file.string() + ":" + std::to_string(number) + ": expected name:, keywords: or a section";
      return false;
    }
  }
  // Blank lines that end a section only separate it from the next one.
  for (Section& s : out->sections)
    while (!s.lines.empty() && s.lines.back().empty()) s.lines.pop_back();

  static const char* const kKinds[] = {"args",   "exit",   "stdout",     "stderr", "file",
                                       "output", "package", "well-formed", "machine",
                                       "debug",  "valid",  "show"};
  bool has_exit = false;
  for (const Section& s : out->sections) {
    bool known = false;
    for (const char* kind : kKinds) known = known || s.kind == kind;
    if (!known) {
      *error = file.string() + ":" + std::to_string(s.line_number) + ": unknown section '" + s.kind + "'";
      return false;
    }
    if ((s.kind == "file" || s.kind == "output" || s.kind == "package" || s.kind == "debug") &&
        s.argument.empty()) {
      *error = file.string() + ":" + std::to_string(s.line_number) + ": '" + s.kind + "' needs a file name";
      return false;
    }
    if (s.kind == "file" || s.kind == "output" || s.kind == "package" || s.kind == "debug") {
      fs::path name = s.argument.substr(0, s.argument.find(' '));
      bool escapes = name.is_absolute();
      for (const fs::path& part : name) escapes = escapes || part == "..";
      if (escapes) {
        *error = file.string() + ":" + std::to_string(s.line_number) + ": '" + name.string() +
                 "' leaves the working directory";
        return false;
      }
    }
    has_exit = has_exit || s.kind == "exit";
  }
  if (out->name.empty() || !has_exit) {
    *error = file.string() + ": a scenario needs a name: line and an exit section";
    return false;
  }
  return true;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One piece of an expected text: literal bytes or a placeholder.
struct Piece {
  enum Kind { LITERAL, ANY, DATE, TIME, REV } kind = LITERAL;
  std::string text;
};

// Turns section lines into pieces: %TAB%, %CR%, %HEX:xx..%, %WORKDIR% and
// %NOEOL% (at the very end: no final newline) are resolved; %ANY%, %DATE%,
// %TIME% and %REV% become placeholders when patterns is set. Anything else
// between percent signs stands as written.
std::vector<Piece> expand(const std::vector<std::string>& lines, const std::string& workdir,
                          bool patterns) {
  std::vector<Piece> pieces(1);
  auto literal = [&](const std::string& s) {
    if (pieces.back().kind != Piece::LITERAL) pieces.emplace_back();
    pieces.back().text += s;
  };
  for (size_t n = 0; n < lines.size(); ++n) {
    const std::string& line = lines[n];
    bool eol = true;
    for (size_t i = 0; i < line.size();) {
      if (line[i] == '%') {
        size_t end = line.find('%', i + 1);
        std::string token = end == std::string::npos ? "" : line.substr(i + 1, end - i - 1);
        Piece::Kind kind = Piece::LITERAL;
        bool known = true;
        if (token == "TAB") {
          literal("\t");
        } else if (token == "CR") {
          literal("\r");
        } else if (token == "WORKDIR") {
          literal(workdir);
        } else if (token == "NOEOL" && n + 1 == lines.size() && end + 1 == line.size()) {
          eol = false;
        } else if (token.rfind("HEX:", 0) == 0 && token.size() > 4 && token.size() % 2 == 0) {
          std::string bytes;
          for (size_t k = 4; k + 1 < token.size() && known; k += 2) {
            int hi = hex_value(token[k]), lo = hex_value(token[k + 1]);
            if (hi < 0 || lo < 0) known = false;
            else bytes += static_cast<char>(hi * 16 + lo);
          }
          if (known) literal(bytes);
        } else if (patterns && token == "ANY") {
          kind = Piece::ANY;
        } else if (patterns && token == "DATE") {
          kind = Piece::DATE;
        } else if (patterns && token == "TIME") {
          kind = Piece::TIME;
        } else if (patterns && token == "REV") {
          kind = Piece::REV;
        } else {
          known = false;
        }
        if (known) {
          if (kind != Piece::LITERAL) {
            pieces.push_back({kind, ""});
            pieces.emplace_back();
          }
          i = end + 1;
          continue;
        }
      }
      literal(std::string(1, line[i]));
      ++i;
    }
    if (eol) literal("\n");
  }
  return pieces;
}

std::string plain(const std::vector<Piece>& pieces) {
  std::string text;
  for (const Piece& p : pieces) text += p.text;
  return text;
}

std::string visible(const std::string& text);

// The expected text for a failure message, placeholders shown by name.
std::string shown(const std::vector<Piece>& pieces) {
  static const char* const kNames[] = {"", "%ANY%", "%DATE%", "%TIME%", "%REV%"};
  std::string text;
  for (const Piece& p : pieces) text += p.kind == Piece::LITERAL ? visible(p.text) : kNames[p.kind];
  return text;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Length of the fixed-shape placeholder at text[pos], or -1 when it is not there.
long fixed_match(Piece::Kind kind, const std::string& text, size_t pos) {
  auto shape = [&](const char* form) -> long {  // A upper, a lower, 9 digit, _ blank or digit, x hex
    size_t n = std::strlen(form);
    if (pos + n > text.size()) return -1;
    for (size_t k = 0; k < n; ++k) {
      char c = text[pos + k];
      bool good = false;
      switch (form[k]) {
        case 'A': good = c >= 'A' && c <= 'Z'; break;
        case 'a': good = c >= 'a' && c <= 'z'; break;
        case '9': good = is_digit(c); break;
        case '_': good = c == ' ' || is_digit(c); break;
        case 'x': good = is_digit(c) || (c >= 'a' && c <= 'f'); break;
        default: good = c == form[k]; break;
      }
      if (!good) return -1;
    }
    return static_cast<long>(n);
  };
  switch (kind) {
    case Piece::DATE: return shape("Aaa _9 9999");
    case Piece::TIME: return shape("99:99:99");
    case Piece::REV: return shape("xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx");
    default: return -1;
  }
}

bool match(const std::vector<Piece>& pieces, size_t index, const std::string& text, size_t pos) {
  if (index == pieces.size()) return pos == text.size();
  const Piece& piece = pieces[index];
  if (piece.kind == Piece::LITERAL) {
    if (text.compare(pos, piece.text.size(), piece.text) != 0) return false;
    return match(pieces, index + 1, text, pos + piece.text.size());
  }
  if (piece.kind == Piece::ANY) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    for (size_t stop = end + 1; stop-- > pos;)
      if (match(pieces, index + 1, text, stop)) return true;
    return false;
  }
  long length = fixed_match(piece.kind, text, pos);
  return length >= 0 && match(pieces, index + 1, text, pos + static_cast<size_t>(length));
}

// Shows text with its tabs, carriage returns and other control bytes visible.
std::string visible(const std::string& text) {
  std::string out;
  for (char c : text) {
    auto b = static_cast<unsigned char>(c);
    if (c == '\n') out += "\n";
    else if (c == '\t') out += "%TAB%";
    else if (c == '\r') out += "%CR%";
    else if (b < 0x20 || b >= 0x7F) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "%%HEX:%02x%%", b);
      out += hex;
    } else out += c;
  }
  return out;
}

struct RunResult {
  bool started = false;
  bool timed_out = false;
  int status = -1;  // exit status, or 128 + signal
  std::string error;
};

// Runs path with args (argv[0] included) in dir, standard output and error
// into the named files, standard input from /dev/null.
RunResult run_process(const std::string& path, const std::vector<std::string>& args,
                      const fs::path& dir, const fs::path& out_file, const fs::path& err_file,
                      const std::vector<std::string>& env_set) {
  RunResult result;
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) {
    result.error = std::string("fork: ") + std::strerror(errno);
    return result;
  }
  if (pid == 0) {
    int in = open("/dev/null", O_RDONLY);
    int out = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
        chdir(dir.c_str()) != 0)
      _exit(126);
    for (const std::string& e : env_set) putenv(const_cast<char*>(e.c_str()));
    execv(path.c_str(), argv.data());
    _exit(127);
  }
  result.started = true;
  int status = 0;
  for (int waited = 0;; ++waited) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) {
      result.error = std::string("waitpid: ") + std::strerror(errno);
      return result;
    }
    if (waited >= kTimeoutSeconds * 100) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      result.timed_out = true;
      break;
    }
    usleep(10000);
  }
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  else if (WIFSIGNALED(status)) result.status = 128 + WTERMSIG(status);
  return result;
}

class Failure {
 public:
  explicit Failure(std::string name) : name_(std::move(name)) {}
  void add(const std::string& what) { messages_.push_back(what); }
  bool any() const { return !messages_.empty(); }
  void print() const {
    for (const std::string& m : messages_) std::fprintf(stderr, "FAIL %s: %s\n", name_.c_str(), m.c_str());
  }

 private:
  std::string name_;
  std::vector<std::string> messages_;
};

// The lines of a text, without their line feeds (and carriage returns).
std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// Checks that the wanted lines occur in text as whole lines, in this order
// (other lines may come between them); a failure names the first wanted line
// that is missing.
void expect_lines_in_order(Failure* failure, const std::string& what,
                           const std::vector<std::string>& wanted, const std::string& text) {
  const std::vector<std::string> lines = split_lines(text);
  size_t at = 0;
  for (const std::string& want : wanted) {
    while (at < lines.size() && lines[at] != want) ++at;
    if (at == lines.size()) {
      failure->add(what + ": line not found (in order): " + visible(want) + "\n--- actual\n" +
                   visible(text) + "---");
      return;
    }
    ++at;
  }
}

void compare(Failure* failure, const std::string& what, const std::vector<Piece>& expected,
             const std::string& actual) {
  if (match(expected, 0, actual, 0)) return;
  failure->add(what + " differs\n--- expected\n" + shown(expected) + "--- actual\n" +
               visible(actual) + "---");
}

bool run_scenario(const Scenario& scenario, const Options& options) {
  Failure failure(scenario.file.filename().string() + " (" + scenario.name + ")");

  char pattern[] = "/tmp/vrex-scenario-XXXXXX";
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp != nullptr && tmp[0] != '\0' ? std::string(tmp) + "/vrex-scenario-XXXXXX" : pattern;
  std::vector<char> root_name(base.begin(), base.end());
  root_name.push_back('\0');
  if (mkdtemp(root_name.data()) == nullptr) {
    failure.add(std::string("mkdtemp: ") + std::strerror(errno));
    failure.print();
    return false;
  }
  const fs::path root = root_name.data();
  const fs::path work = root / "work";
  fs::create_directory(work);
  const std::string workdir = work.string();

  // The simulated machine: the scenario's own, or one without network devices.
  std::string machine = "{}\n";
  for (const Section& s : scenario.sections)
    if (s.kind == "machine") machine = plain(expand(s.lines, workdir, false));
  write_file(root / "machine.json", machine);
  std::vector<std::string> env = {"VREX_SIM_MACHINE=" + (root / "machine.json").string()};

  int manifests = 0;
  for (const Section& s : scenario.sections) {
    if (s.kind == "file" || s.kind == "package") {
      std::error_code ignored;
      fs::create_directories((work / s.argument.substr(0, s.argument.find(' '))).parent_path(), ignored);
    }
    if (s.kind == "file") {
      if (!write_file(work / s.argument, plain(expand(s.lines, workdir, false))))
        failure.add("cannot write " + s.argument);
    } else if (s.kind == "package") {
      // "@@ package OUT.pkg" with an inline manifest, or "@@ package OUT.pkg MANIFEST"
      // naming a manifest file beside the scenario.
      std::string out_name = s.argument, manifest;
      size_t blank = out_name.find(' ');
      if (blank != std::string::npos) {
        manifest = (scenario.file.parent_path() / out_name.substr(blank + 1)).string();
        out_name = out_name.substr(0, blank);
      } else {
        manifest = (root / ("manifest-" + std::to_string(++manifests) + ".json")).string();
        write_file(manifest, plain(expand(s.lines, workdir, false)));
      }
      if (options.vrexpkg.empty() || access(options.vrexpkg.c_str(), X_OK) != 0) {
        failure.add("the scenario builds packages but vrexpkg is not available: " + options.vrexpkg);
        break;
      }
      RunResult built = run_process(options.vrexpkg, {"vrexpkg", "build", manifest, "-o", out_name}, work,
                                    root / "vrexpkg.out", root / "vrexpkg.err", env);
      if (!built.started || built.status != 0)
        failure.add("vrexpkg build " + out_name + " failed (" + std::to_string(built.status) + "): " +
                    built.error + read_file(root / "vrexpkg.err"));
    }
  }

  std::vector<std::string> args = {"vrexcup"};
  for (const Section& s : scenario.sections) {
    if (s.kind != "args") continue;
    for (const std::string& line : s.lines) {
      if (line.empty()) continue;
      if (line == "%EMPTY%") {
        args.emplace_back();
        continue;
      }
      std::string arg = plain(expand({line}, workdir, false));
      if (!arg.empty() && arg.back() == '\n') arg.pop_back();  // the line's own end
      args.push_back(arg);
    }
  }

  if (!failure.any()) {
    RunResult run = run_process(options.program, args, work, root / "stdout", root / "stderr", env);
    if (!run.started) failure.add("cannot run " + options.program + ": " + run.error);
    if (run.timed_out) failure.add("timed out after " + std::to_string(kTimeoutSeconds) + " s");

    std::string stdout_text = read_file(root / "stdout");
    std::string stderr_text = read_file(root / "stderr");
    std::vector<Piece> expected_stdout(1), expected_stderr(1);
    for (const Section& s : scenario.sections) {
      if (s.kind == "exit") {
        std::string want = s.lines.empty() ? "" : s.lines[0];
        if (want != std::to_string(run.status))
          failure.add("exit status " + std::to_string(run.status) + ", expected " + want);
      } else if (s.kind == "stdout") {
        expected_stdout = expand(s.lines, workdir, true);
      } else if (s.kind == "stderr") {
        expected_stderr = expand(s.lines, workdir, true);
      } else if (s.kind == "output") {
        bool exists = false;
        std::string content = read_file(work / s.argument, &exists);
        if (!exists) failure.add("no output file " + s.argument);
        else compare(&failure, "output file " + s.argument, expand(s.lines, workdir, true), content);
      } else if (s.kind == "well-formed") {
        for (const std::string& name : s.lines) {
          if (name.empty()) continue;
          fs::path target = name == "stdout" ? root / "stdout" : work / name;
          RunResult lint = run_process("/usr/bin/xmllint", {"xmllint", "--noout", target.string()}, work,
                                       root / "xmllint.out", root / "xmllint.err", {});
          if (!lint.started || lint.status != 0)
            failure.add(name + " is not well-formed XML: " + lint.error + read_file(root / "xmllint.err"));
        }
      }
    }
    for (const Section& s : scenario.sections) {
      if (s.kind == "debug") {
        // "@@ debug NAME": lines the debug stream (a file, or stdout) must hold, in order.
        bool exists = false;
        std::string content = s.argument == "stdout" ? stdout_text : read_file(work / s.argument, &exists);
        if (s.argument != "stdout" && !exists) failure.add("no debug file " + s.argument);
        else expect_lines_in_order(&failure, "debug " + s.argument, split_lines(plain(expand(s.lines, workdir, false))), content);
      } else if (s.kind == "valid") {
        // "@@ valid": documents (stdout or files) checked against the reports' schema.
        for (const std::string& name : s.lines) {
          if (name.empty()) continue;
          fs::path target = name == "stdout" ? root / "stdout" : work / name;
          RunResult lint = run_process("/usr/bin/xmllint", {"xmllint", "--noout", "--schema", options.schema, target.string()},
                                       work, root / "xmllint.out", root / "xmllint.err", {});
          if (!lint.started || lint.status != 0)
            failure.add(name + " does not follow " + options.schema + ": " + lint.error + read_file(root / "xmllint.err"));
        }
      } else if (s.kind == "show") {
        // "@@ show": lines that "vrexsim show" must print for the machine after the run, in order.
        RunResult shown = run_process(options.vrexsim, {"vrexsim", "show", (root / "machine.json").string()}, work,
                                      root / "show.out", root / "show.err", env);
        if (!shown.started || shown.status != 0)
          failure.add("vrexsim show failed: " + shown.error + read_file(root / "show.err"));
        else
          expect_lines_in_order(&failure, "machine state", split_lines(plain(expand(s.lines, workdir, false))),
                                read_file(root / "show.out"));
      }
    }
    compare(&failure, "standard output", expected_stdout, stdout_text);
    compare(&failure, "standard error", expected_stderr, stderr_text);
  }

  if (failure.any()) {
    failure.print();
    std::fprintf(stderr, "     scenario directory kept: %s\n", root.c_str());
    return false;
  }
  if (options.keep) {
    std::fprintf(stderr, "scenario directory: %s\n", root.c_str());
  } else {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
  std::printf("ok %s (%s)\n", scenario.file.filename().c_str(), scenario.name.c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--program" && i + 1 < argc) options.program = argv[++i];
    else if (a == "--vrexpkg" && i + 1 < argc) options.vrexpkg = argv[++i];
    else if (a == "--vrexsim" && i + 1 < argc) options.vrexsim = argv[++i];
    else if (a == "--schema" && i + 1 < argc) options.schema = argv[++i];
    else if (a == "--keep") options.keep = true;
    else files.push_back(a);
  }
  if (options.program.empty() || files.empty()) {
    std::fprintf(stderr, "usage: %s --program PATH [--vrexpkg PATH] [--keep] FILE...\n", argv[0]);
    return 2;
  }
  bool all_passed = true;
  for (const std::string& file : files) {
    Scenario scenario;
    std::string error;
    if (!parse_scenario(file, &scenario, &error)) {
      std::fprintf(stderr, "FAIL %s\n", error.c_str());
      all_passed = false;
      continue;
    }
    all_passed = run_scenario(scenario, options) && all_passed;
  }
  return all_passed ? 0 : 1;
}
