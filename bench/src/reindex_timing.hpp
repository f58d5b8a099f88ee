#pragma once
// The server binary's `reindex` command timed from outside: a full
// reindex after the index is cleared, then one with nothing to do.

#include "outcome.hpp"

#include <filesystem>
#include <string>
#include <vector>

namespace bench {

struct ReindexTimes {
  double full_seconds = 0;  // index.db removed first: every note is written
  double noop_seconds = 0;  // straight after: every note is read, none written
};

// Runs `binary reindex --vault <vault>` twice with environment `env`
// (output discarded), removing `<vault>/.brask-tolvane/index.db` and its WAL
// files first. Fails when a run cannot be started or exits other than 0.
[[nodiscard]] Outcome<ReindexTimes> time_reindex(const std::string& binary, const std::vector<std::string>& env,
                                                 const std::filesystem::path& vault);

// "reindex (the binary's `reindex` command): full 12.3 s = 8,130 notes/s; nothing to do 1.2 s = 83,300 notes/s"
std::string reindex_remark(size_t notes, const ReindexTimes& times);

}  // namespace bench
