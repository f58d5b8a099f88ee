#pragma once
// The table of commands, read by the command line to dispatch and by its
// --help to list them.

#include "commands/command.hpp"

#include <span>
#include <string_view>

namespace mcp {

// Every command, in the order --help lists them.
std::span<const Command> all_commands();

// The command named `name`, or nullptr.
const Command* find_command(std::string_view name);

}  // namespace mcp
