#pragma once
// `brask-tolvane-mcp trash`: the notes that delete_note put aside, for the
// person who owns the vault: list them, restore one, or empty the trash.

#include "commands/command.hpp"

#include <iosfwd>
#include <span>
#include <string_view>

namespace mcp {

// `trash [--vault V] [--json] list | restore ID [--as NEW_ID] | empty
// [--older-than DAYS]`, and `trash --help`. The vault is --vault (a library
// label or id, or a path, as a tool call's `vault` argument) or else the
// server's default chain. Results go to `out` (JSON with --json), problems
// to `err`. Gives kExitOk, kExitProblems when the vault cannot be used or
// the action is refused or fails, kExitUsage for wrong arguments.
int trash_main(std::span<const std::string_view> args, std::ostream& out, std::ostream& err);

}  // namespace mcp
