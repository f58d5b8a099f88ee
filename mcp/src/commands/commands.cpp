#include "commands/commands.hpp"

#include "commands/trash_command.hpp"

#include <algorithm>
#include <array>

namespace mcp {
namespace {

// One line per command; a new command adds its line here.
constexpr std::array kCommands{
    Command{"trash", "list, restore or empty the notes that delete_note put aside", trash_command},
};

}  // namespace

std::span<const Command> all_commands() { return kCommands; }

const Command* find_command(std::string_view name) {
  const auto found = std::ranges::find(kCommands, name, &Command::name);
  return found == kCommands.end() ? nullptr : &*found;
}

}  // namespace mcp
