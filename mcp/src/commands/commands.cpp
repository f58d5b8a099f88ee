#include "commands/commands.hpp"

#include <algorithm>
#include <array>

namespace mcp {
namespace {

// One line per command; a new command adds its line here.
constexpr std::array<Command, 0> kCommands{};

}  // namespace

std::span<const Command> all_commands() { return kCommands; }

const Command* find_command(std::string_view name) {
  const auto found = std::ranges::find(kCommands, name, &Command::name);
  return found == kCommands.end() ? nullptr : &*found;
}

}  // namespace mcp
