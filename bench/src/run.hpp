#pragma once
// One benchmark run for one vault size: a fresh temporary workspace, a
// vault loaded through one server process, every operation timed against
// that process, then the floor timed on the same index.db.

#include "outcome.hpp"
#include "report.hpp"

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <string>

namespace bench {

struct RunOptions {
  size_t notes = 1000;
  uint64_t seed = 1;
  size_t warmup = 3;
  size_t reps = 30;
  std::string server_binary;
  // Another build of the server, timed call for call in turn with
  // `server_binary` on the same vault (empty: none).
  std::string baseline_binary;
  std::filesystem::path work_root;  // the temporary workspace is made inside it
  bool keep = false;                // leave the workspace (vault, HOME) in place
  bool floor_only = false;          // no server: fill index.db directly, time the floor only
  bool prefill = false;             // write files and index directly, then time the server on them
  std::ostream* progress = nullptr; // where to say what the run is doing, if anywhere
};

// Runs the benchmark for `options.notes` notes. Failures of single
// operations are recorded in their rows (and clear `complete`); the run
// itself fails only when its workspace cannot be made or no server process
// can be started. The server's HOME is a folder inside the workspace that
// holds an mcp.json enabling it; the user's HOME is never used.
[[nodiscard]] Outcome<Report> run_benchmark(const RunOptions& options);

}  // namespace bench
