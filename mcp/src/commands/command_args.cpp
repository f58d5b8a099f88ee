#include "commands/command_args.hpp"

#include "base/text.hpp"
#include "commands/command.hpp"

#include <algorithm>
#include <ostream>

namespace mcp {
namespace {

bool listed(std::initializer_list<std::string_view> names, std::string_view name) {
  return std::ranges::find(names, name) != names.end();
}

}  // namespace

const std::string* CommandArgs::option(std::string_view name) const {
  const auto found = options.find(name);
  return found == options.end() ? nullptr : &found->second;
}

std::expected<CommandArgs, std::string> parse_command_args(std::span<const std::string_view> args,
                                                           std::initializer_list<std::string_view> options,
                                                           std::initializer_list<std::string_view> flags) {
  CommandArgs parsed;
  bool options_ended = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view word = args[i];
    if (options_ended || !word.starts_with("-") || word == "-") {
      parsed.positionals.emplace_back(word);
      continue;
    }
    if (word == "--") {
      options_ended = true;
      continue;
    }
    if (!word.starts_with("--")) return std::unexpected("unknown option: " + std::string(word));
    const std::string_view spelled = word.substr(2);
    const auto equals = spelled.find('=');
    const std::string_view name = spelled.substr(0, equals);
    if (listed(flags, name)) {
      if (equals != std::string_view::npos) return std::unexpected("option --" + std::string(name) + " takes no value");
      parsed.flags.emplace(name);
    } else if (listed(options, name)) {
      if (equals != std::string_view::npos) {
        parsed.options.insert_or_assign(std::string(name), std::string(spelled.substr(equals + 1)));
      } else if (i + 1 < args.size()) {
        parsed.options.insert_or_assign(std::string(name), std::string(args[++i]));
      } else {
        return std::unexpected("option --" + std::string(name) + " needs a value");
      }
    } else {
      return std::unexpected("unknown option: " + std::string(word));
    }
  }
  return parsed;
}

int usage_mistake(std::string_view name, std::string_view mistake, std::ostream& err) {
  err << "brask-tolvane-mcp " << name << ": " << mistake << "\nTry 'brask-tolvane-mcp " << name << " --help'.\n";
  err.flush();
  return kExitUsage;
}

std::expected<CommandArgs, int> begin_command(std::string_view name, std::string_view help,
                                              std::span<const std::string_view> args,
                                              std::initializer_list<std::string_view> options,
                                              std::initializer_list<std::string_view> flags, std::size_t max_words,
                                              std::ostream& out, std::ostream& err) {
  auto parsed = parse_command_args(args, options, flags);
  if (!parsed) return std::unexpected(usage_mistake(name, parsed.error(), err));
  if (parsed->has("help")) {
    out << help;
    out.flush();
    return std::unexpected(kExitOk);
  }
  // A blank vault ("--vault ''", "--vault=") is a slip, never a choice:
  // taken as given it would quietly mean the default vault.
  if (const std::string* vault = parsed->option("vault"); vault && core::trim(*vault).empty())
    return std::unexpected(usage_mistake(name, "option --vault needs a value", err));
  if (parsed->positionals.size() > max_words)
    return std::unexpected(usage_mistake(name, "unexpected argument: " + parsed->positionals[max_words], err));
  return std::move(*parsed);
}

}  // namespace mcp
