#pragma once
// What following the files (`"follow_files": true`) costs, timed through
// server processes on the loaded vault: the first walk of a vault no
// follower has seen, the catch-up walk of a later server with nothing
// changed, the cost added to every call, and a call after a note was
// changed by hand.

#include "outcome.hpp"

#include <filesystem>
#include <string>
#include <vector>

namespace bench {

struct FollowTimes {
  double first_walk_ms = 0;  // first call, no stamps recorded yet (every file read), minus the same call unfollowed
  double catch_up_ms = 0;    // first call of a later server, nothing changed, minus the same call unfollowed
  double per_call_ms = 0;    // median call followed minus median call unfollowed (may be below 0: noise)
  double changed_ms = 0;     // a call after one note was changed by hand, minus the median followed call
};

// Runs servers of `binary` with environment `env` on `vault`, switching
// following on and off in `mcp_json` (left as {"enabled":true} afterwards).
// Each timed call is a get_note of the first note file; medians over
// `reps` calls. Fails when a server cannot be started or a call fails.
[[nodiscard]] Outcome<FollowTimes> time_following(const std::string& binary, const std::vector<std::string>& env,
                                                  const std::filesystem::path& mcp_json,
                                                  const std::filesystem::path& vault, int reps);

// "following the files (--follow-files): first walk 812 ms; catch-up, nothing changed, 21.4 ms; per call +0.004 ms; a note changed by hand +0.9 ms"
std::string follow_remark(const FollowTimes& times);

}  // namespace bench
