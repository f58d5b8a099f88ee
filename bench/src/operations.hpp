#pragma once
// The operations the benchmark times, one per table line: the request a
// client sends for it, what its answer must show, and the floor, which is
// the index statements the same call runs, in the server's order, without
// the process, the JSON, the note files or the clock.

#include "generator.hpp"
#include "outcome.hpp"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace bench {

struct ServerCall {
  std::string method;  // "ping" or "tools/call"
  std::string tool;    // the tool of a tools/call
  nlohmann::json arguments;
};

using FloorStatements = std::function<Outcome<void>(sqlite3* db)>;

struct Operation {
  std::string name;
  // The request of call number `call`, counting warm-up calls from 0.
  // Writes vary with the call so that each call does the work it names: a
  // move always moves, a rename always renames, a new note is always new.
  std::function<ServerCall(size_t call)> request;
  // Checks the tool's result of call number `call`. Gives the number of
  // rows it lists (nullopt for results that are no list), or what is wrong
  // with it. Empty for ping.
  std::function<Outcome<std::optional<size_t>>(const nlohmann::json& result, size_t call)> check;
  // The index statements of floor call number `call`, their inputs made
  // ready, to be run on an open connection. Floor call numbers never repeat
  // one another. Empty when the call has no index work.
  std::function<FloorStatements(size_t call)> floor;
};

// The operations for a vault loaded from `vault` at `vault_root`, in the
// order they must run: reads first (their expected answers assume the
// vault as loaded), then writes.
std::vector<Operation> make_operations(const VaultGenerator& vault, const std::string& vault_root);

}  // namespace bench
