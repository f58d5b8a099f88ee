#include "commands/commands.hpp"

#include "commands/doctor_command.hpp"
#include "commands/init_command.hpp"
#include "commands/reindex_command.hpp"
#include "commands/trash_command.hpp"

#include <algorithm>
#include <array>

namespace mcp {
namespace {

// One line per command; a new command adds its line here.
constexpr std::array kCommands{
    Command{"doctor", "show the configuration, the vault and how its index stands", doctor_main},
    Command{"reindex", "bring the vault's index in step with its note files", reindex_main},
    Command{"init", "make a vault and enable the server for it", init_main},
    Command{"trash", "list, restore or empty the notes that delete_note put aside", trash_main},
};

}  // namespace

std::span<const Command> all_commands() { return kCommands; }

const Command* find_command(std::string_view name) {
  const auto found = std::ranges::find(kCommands, name, &Command::name);
  return found == kCommands.end() ? nullptr : &*found;
}

}  // namespace mcp
