// brask-tolvane-bench: times every tool of the server over stdin/stdout
// against generated vaults, next to the floor of the same index statements
// run directly on the vault's index.db. Prints one table per vault size.

#include "report.hpp"
#include "run.hpp"

#include <sqlite3.h>

#include <charconv>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <thread>

namespace {

constexpr const char* kUsage = R"(usage: brask-tolvane-bench [options]
  --large           also run 100,000 notes (after 1,000 and 10,000)
  --sizes=N,N,...   vault sizes to run instead of the default 1000,10000
  --reps=K          timed calls per operation (default 30)
  --warmup=W        untimed calls before them (default 3)
  --seed=S          generator seed (default 1)
  --server=PATH     the server binary (default: the one built beside this program)
  --baseline=PATH   another server binary, started beside the first on the same
                    vault: every operation's calls alternate between the two and
                    each line adds the baseline's median and the ratio to it
  --dir=DIR         where temporary workspaces go (default $TMPDIR or /tmp)
  --keep            keep each workspace (vault and HOME) for inspection
  --floor-only      no server: fill index.db directly and time the floor only
  --prefill         write the note files and index.db directly (no load through
                    the server, so no load line), then time the server on them
)";

struct Options {
  bench::RunOptions run;
  std::vector<size_t> sizes = {1000, 10000};
  bool large = false;
};

bool parse_number(std::string_view text, uint64_t& into) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), into);
  return error == std::errc() && end == text.data() + text.size();
}

bool parse_sizes(std::string_view text, std::vector<size_t>& into) {
  into.clear();
  while (!text.empty()) {
    const size_t comma = std::min(text.find(','), text.size());
    uint64_t size = 0;
    if (!parse_number(text.substr(0, comma), size) || size == 0) return false;
    into.push_back(size);
    text.remove_prefix(std::min(comma + 1, text.size()));
  }
  return !into.empty();
}

bool parse_option(std::string_view arg, Options& options) {
  auto value_of = [&](std::string_view name, std::string_view& value) {
    if (arg.rfind(name, 0) != 0) return false;
    value = arg.substr(name.size());
    return true;
  };
  std::string_view value;
  uint64_t number = 0;
  if (arg == "--large") return options.large = true;
  if (arg == "--keep") return options.run.keep = true;
  if (arg == "--floor-only") return options.run.floor_only = true;
  if (arg == "--prefill") return options.run.prefill = true;
  if (value_of("--sizes=", value)) return parse_sizes(value, options.sizes);
  if (value_of("--reps=", value)) return parse_number(value, number) && number > 0 && (options.run.reps = number, true);
  if (value_of("--warmup=", value)) return parse_number(value, number) && (options.run.warmup = number, true);
  if (value_of("--seed=", value)) return parse_number(value, options.run.seed);
  if (value_of("--server=", value)) return !value.empty() && (options.run.server_binary = value, true);
  if (value_of("--baseline=", value)) return !value.empty() && (options.run.baseline_binary = value, true);
  if (value_of("--dir=", value)) return !value.empty() && (options.run.work_root = value, true);
  return false;
}

std::string first_line_with(const char* file, std::string_view key) {
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(key, 0) == 0) {
      const size_t colon = line.find(':');
      return colon == std::string::npos ? line : line.substr(line.find_first_not_of(" \t", colon + 1));
    }
  return "unknown";
}

void print_machine() {
  std::cout << "machine: " << first_line_with("/proc/cpuinfo", "model name") << ", "
            << std::thread::hardware_concurrency() << " cores, " << first_line_with("/proc/meminfo", "MemTotal")
            << "; SQLite " << sqlite3_libversion() << "\n\n";
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  options.run.server_binary = BT_SERVER_BINARY;
  options.run.progress = &std::cerr;
  const char* tmp = std::getenv("TMPDIR");
  options.run.work_root = (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") return std::cout << kUsage, 0;
    if (!parse_option(arg, options)) return std::cerr << "unknown or malformed option: " << arg << "\n" << kUsage, 2;
  }
  if (options.large) options.sizes.push_back(100000);

  print_machine();
  bool complete = true;
  for (size_t size : options.sizes) {
    options.run.notes = size;
    auto report = bench::run_benchmark(options.run);
    if (!report) {
      std::cout << "== " << bench::with_thousands(size) << " notes: " << report.error() << "\n\n";
      complete = false;
      continue;
    }
    std::cout << bench::format_report(*report) << "\n" << std::flush;
    complete = complete && report->complete;
  }
  return complete ? 0 : 1;
}
