#include "commands/trash_command.hpp"

#include "base/text.hpp"
#include "commands/command_args.hpp"
#include "commands/shown_path.hpp"
#include "commands/vault_choice.hpp"
#include "config/vault_check.hpp"
#include "index/index_db.hpp"
#include "store/trash.hpp"

#include <nlohmann/json.hpp>

#include <charconv>
#include <ostream>

namespace mcp {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr std::string_view kHelp =
    "Usage: brask-tolvane-mcp trash [--vault V] [--json] list\n"
    "       brask-tolvane-mcp trash [--vault V] [--json] restore ID [--as NEW_ID]\n"
    "       brask-tolvane-mcp trash [--vault V] [--json] empty [--older-than DAYS]\n"
    "\n"
    "A deleted note is kept in <vault>/.brask-tolvane/trash/ until the trash is\n"
    "emptied; nothing is purged automatically.\n"
    "  list     the trashed notes, newest first: when, id, title, folder, size\n"
    "  restore  put the newest trashed version of ID back in its folder (or in\n"
    "           notes/ when that folder is gone), byte for byte, and index it;\n"
    "           refused while a note with that id or a file of that name exists,\n"
    "           unless --as gives it another id\n"
    "  empty    remove trashed notes for good; with --older-than, only those\n"
    "           deleted more than DAYS days ago\n"
    "\n"
    "Options:\n"
    "  --vault V  a library label or id from settings.json, or a path; without\n"
    "             it, the server's default vault\n"
    "  --json     print the result as JSON\n"
    "  --help     print this text\n"
    "\n"
    "Exit status: 0 done, 1 refused or failed, 2 wrong arguments.\n";

constexpr std::string_view kName = "brask-tolvane-mcp trash: ";
constexpr unsigned long long kMaxDays = 1'000'000;

int usage(std::ostream& err, std::string_view mistake) { return usage_mistake("trash", mistake, err); }

int problem(std::ostream& err, std::string_view text) {
  err << kName << text << '\n';
  err.flush();
  return kExitProblems;
}

void print(std::ostream& out, const std::string& text) {
  out << text;
  out.flush();
}

// The vault root named by --vault, or the default one, when it is a vault.
std::expected<fs::path, std::string> vault_root(const std::string* named) {
  auto choice = choose_vault(named, core::load_mcp_config());
  if (!choice) return std::unexpected(std::move(choice.error()));
  if (auto problem = core::vault_problem(choice->root))
    return std::unexpected(core::vault_problem_text(*problem, shown_path(choice->root)));
  return std::move(choice->root);
}

std::optional<unsigned long long> parse_days(std::string_view text) {
  unsigned long long days = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), days);
  if (error != std::errc() || end != text.data() + text.size() || text.empty() || days > kMaxDays) return std::nullopt;
  return days;
}

// `days` before `now`, counted in microseconds, which hold the largest
// accepted count (a million days, 8.64e16 us) with room to spare; the
// clock's own nanoseconds would overflow from about 106,000 days on and
// land in the future.
core::TrashTime trash_cut_off(core::TrashClock::time_point now, unsigned long long days) {
  return std::chrono::floor<std::chrono::microseconds>(now) - std::chrono::days(static_cast<long long>(days));
}

std::string shown_folder(const std::string& folder) { return folder.empty() ? "notes" : "notes/" + folder; }

int list(const fs::path& root, bool as_json, std::ostream& out, std::ostream& err) {
  auto entries = core::list_trash(root);
  if (!entries) return problem(err, core::to_text(entries.error()));
  if (as_json) {
    json notes = json::array();
    for (const core::TrashEntry& e : *entries)
      notes.push_back({{"deleted_at", e.deleted_at}, {"folder", e.folder}, {"id", e.id}, {"path", e.original_path},
                       {"size", e.size}, {"title", e.title}});
    print(out, json{{"notes", std::move(notes)}}.dump(-1, ' ', false, json::error_handler_t::replace) + "\n");
    return kExitOk;
  }
  std::string text = entries->empty() ? "The trash is empty.\n" : "";
  for (const core::TrashEntry& e : *entries)
    text += e.deleted_at + "  " + e.id + "  " + (e.title.empty() ? "(no title)" : e.title) + "  " +
            shown_folder(e.folder) + "  " + std::to_string(e.size) + " bytes\n";
  print(out, text);
  return kExitOk;
}

int restore(const fs::path& root, const std::string& id, const std::string* as_id, bool as_json, std::ostream& out,
            std::ostream& err) {
  auto vault = core::open_vault(root);
  if (!vault) return problem(err, "cannot open vault at " + shown_path(root) + ": " + core::to_text(vault.error()));
  std::optional<std::string_view> as;
  if (as_id) as = *as_id;
  auto restored = core::restore_from_trash(*vault, id, as);
  if (!restored) {
    std::string text = core::to_text(restored.error());
    // Without --as, the only conflict is the note's id being taken, and the
    // only refusal a trashed file that names no id: --as mends both.
    const core::ErrorKind kind = restored.error().kind();
    if (!as_id && kind == core::ErrorKind::Conflict) text += "; restore it under another id with --as NEW_ID";
    if (!as_id && kind == core::ErrorKind::Invalid) text += "; restore it with --as NEW_ID to give it one";
    return problem(err, text);
  }
  if (as_json) print(out, json{{"id", restored->id}, {"path", restored->path}}.dump() + "\n");
  else print(out, "restored " + restored->id + " to " + restored->path + "\n");
  return kExitOk;
}

int empty(const fs::path& root, std::optional<unsigned long long> days, bool as_json, std::ostream& out,
          std::ostream& err) {
  std::optional<core::TrashTime> before;
  if (days) before = trash_cut_off(core::TrashClock::now(), *days);
  auto removed = core::empty_trash(root, before);
  if (!removed) return problem(err, core::to_text(removed.error()));
  std::uintmax_t bytes = 0;
  for (const core::TrashEntry& e : *removed) bytes += e.size;
  if (as_json) print(out, json{{"bytes", bytes}, {"removed", removed->size()}}.dump() + "\n");
  else
    print(out, "removed " + std::to_string(removed->size()) + (removed->size() == 1 ? " note" : " notes") +
                   " from the trash (" + std::to_string(bytes) + " bytes)\n");
  return kExitOk;
}

}  // namespace

int trash_main(std::span<const std::string_view> args, std::ostream& out, std::ostream& err) {
  auto parsed = begin_command("trash", kHelp, args, {"vault", "as", "older-than"}, {"json", "help"}, 2, out, err);
  if (!parsed) return parsed.error();
  const std::vector<std::string>& words = parsed->positionals;
  if (words.empty()) return usage(err, "missing action: list, restore or empty");
  const std::string& action = words.front();
  const std::string* as_id = parsed->option("as");
  const std::string* older_than = parsed->option("older-than");
  const size_t wanted_words = action == "restore" ? 2 : 1;
  if (action != "list" && action != "restore" && action != "empty") return usage(err, "unknown action: " + action);
  if (action == "restore" && words.size() < 2) return usage(err, "restore needs the id of a trashed note");
  if (words.size() > wanted_words) return usage(err, "unexpected argument: " + words[wanted_words]);
  if (as_id && action != "restore") return usage(err, "option --as belongs to restore");
  if (older_than && action != "empty") return usage(err, "option --older-than belongs to empty");
  std::optional<unsigned long long> days;
  if (older_than && !(days = parse_days(*older_than)))
    return usage(err, "--older-than needs a whole number of days: " + *older_than);

  auto root = vault_root(parsed->option("vault"));
  if (!root) return problem(err, root.error());
  const bool as_json = parsed->has("json");
  if (action == "list") return list(*root, as_json, out, err);
  if (action == "restore") return restore(*root, words[1], as_id, as_json, out, err);
  return empty(*root, days, as_json, out, err);
}

}  // namespace mcp
