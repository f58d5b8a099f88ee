#include "commands/reindex_command.hpp"

#include "commands/command.hpp"
#include "commands/command_args.hpp"
#include "commands/shown_path.hpp"
#include "commands/vault_choice.hpp"
#include "config/vault_check.hpp"
#include "index/index_db.hpp"
#include "sync/reindex.hpp"
#include "sync/vault_compare.hpp"

#include <chrono>
#include <iostream>
#include <ostream>
#include <set>
#include <sstream>
#include <system_error>

namespace mcp {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kHelp =
    "Usage: brask-tolvane-mcp reindex [--vault V] [--dry-run]\n"
    "\n"
    "Brings the vault's index in step with its note files, as if every note had\n"
    "been saved through the server: a file whose index rows are missing or\n"
    "differ is indexed, a row whose file is gone is marked deleted, and links\n"
    "are resolved once all notes are in. Note files are never written.\n"
    "Files that cannot be read, files without frontmatter and files sharing\n"
    "an id are listed and left alone. When notes/ is missing, not a folder or\n"
    "cannot be read (a link to an unmounted disk), it refuses and changes\n"
    "nothing. A note another program writes while reindex waits for the\n"
    "index is written as it stands then.\n"
    "\n"
    "Options:\n"
    "  --vault V  the vault (a path, or a library label or id); default: the\n"
    "             server's default vault\n"
    "  --dry-run  print what would change, change nothing\n"
    "  --help     print this text\n"
    "\n"
    "Exit status: 0 in step, 1 files left alone or a write failed, 2 bad usage.\n";

constexpr std::size_t kShown = 20;

void print_ids(std::ostream& out, const std::vector<std::string>& ids) {
  if (ids.empty()) return;
  out << ": ";
  for (std::size_t i = 0; i < ids.size() && i < kShown; ++i) out << (i ? ", " : "") << ids[i];
  if (ids.size() > kShown) out << ", and " << ids.size() - kShown << " more";
}

std::string notes_word(std::size_t n) { return std::to_string(n) + (n == 1 ? " note" : " notes"); }

// The files left alone, one a line, with what to do about each.
std::size_t print_left_alone(std::ostream& out, const core::VaultComparison& c) {
  for (const core::FileProblem& p : c.unreadable) out << "  cannot read " << shown_text(p.path) << ": " << p.error << '\n';
  for (const std::string& path : c.without_frontmatter)
    out << "  no frontmatter in " << shown_text(path) << " (give it one with an id and a title)\n";
  for (const core::DuplicateId& d : c.duplicates) {
    out << "  id " << d.id << " is held by";
    for (const std::string& path : d.paths) out << ' ' << shown_text(path);
    out << " (give all but one a new id)\n";
  }
  return c.unreadable.size() + c.without_frontmatter.size() + c.duplicates.size();
}

// Progress on a terminal, once the run has taken a second.
class Progress {
 public:
  explicit Progress(std::ostream& err) : err_(err), on_(&err == &std::cerr && stderr_is_terminal()) {}
  void operator()(std::size_t done, std::size_t total) {
    if (!on_ || std::chrono::steady_clock::now() - start_ < std::chrono::seconds(1)) return;
    if (done != total && done % 256 != 0) return;
    err_ << "\rreindex: " << done << '/' << total << std::flush;
    shown_ = true;
  }
  ~Progress() {
    if (shown_) err_ << '\n' << std::flush;
  }

 private:
  std::ostream& err_;
  bool on_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace

int reindex_main(std::span<const std::string_view> args, std::ostream& out, std::ostream& err) {
  auto parsed = begin_command("reindex", kHelp, args, {"vault"}, {"dry-run", "help"}, 0, out, err);
  if (!parsed) return parsed.error();
  auto choice = choose_vault(parsed->option("vault"), core::load_mcp_config());
  if (!choice) {
    err << "brask-tolvane-mcp reindex: " << choice.error() << '\n';
    return kExitProblems;
  }
  const std::string root = shown_path(choice->root);
  if (auto problem = core::vault_problem(choice->root)) {
    err << "brask-tolvane-mcp reindex: " << core::vault_problem_text(*problem, root) << '\n';
    return kExitProblems;
  }
  // Before the index is opened (which would make a missing one): without
  // its notes folder a vault says nothing about its notes.
  if (auto problem = core::notes_folder_problem(choice->root)) {
    err << "brask-tolvane-mcp reindex: " << *problem << " in " << root << "; the index was not touched\n";
    return kExitProblems;
  }
  auto vault = core::open_vault(choice->root);
  if (!vault) {
    err << "brask-tolvane-mcp reindex: cannot open the index of " << root << ": " << core::to_text(vault.error()) << '\n';
    return kExitProblems;
  }
  auto comparison = core::compare_vault(*vault);
  if (!comparison) {
    err << "brask-tolvane-mcp reindex: cannot compare the index with the files: " << core::to_text(comparison.error())
        << '\n';
    return kExitProblems;
  }
  const bool dry = parsed->has("dry-run");
  out << "Vault: " << root << " (from " << choice->source << ")\n";
  out << "Notes on disk: " << comparison->files << ", live index rows: " << comparison->live_rows << '\n';

  std::vector<std::string> to_index, fresh;
  for (const core::NoteChange& change : comparison->to_index) {
    to_index.push_back(change.note.frontmatter.id);
    if (change.is_new) fresh.push_back(change.note.frontmatter.id);
  }
  std::vector<std::string> deleted = comparison->gone;
  std::vector<core::FileProblem> failed;
  std::vector<std::string> in_step_by_then;
  if (!dry && !(to_index.empty() && deleted.empty())) {
    Progress progress(err);
    core::ReindexOptions options;
    options.progress = std::ref(progress);
    auto applied = core::apply_reindex(*vault, *comparison, options);
    if (!applied) {
      err << "brask-tolvane-mcp reindex: writing the index failed: " << core::to_text(applied.error()) << '\n';
      return kExitProblems;
    }
    to_index = applied->indexed;
    const std::set<std::string> written(to_index.begin(), to_index.end());
    std::erase_if(fresh, [&](const std::string& id) { return !written.contains(id); });
    deleted = applied->deleted;
    failed = applied->failed;
    in_step_by_then = applied->in_step_by_then;
  }

  const std::string verb = dry ? "Would index " : "Indexed ";
  out << verb << notes_word(to_index.size()) << " (" << fresh.size() << " new, "
      << to_index.size() - fresh.size() << " changed)";
  print_ids(out, to_index);
  out << '\n' << (dry ? "Would mark " : "Marked ") << deleted.size() << " deleted";
  print_ids(out, deleted);
  out << '\n';
  if (!in_step_by_then.empty()) {
    out << "Left as found, written meanwhile by another program: " << notes_word(in_step_by_then.size());
    print_ids(out, in_step_by_then);
    out << '\n';
  }
  for (const core::FileProblem& p : failed) out << "Could not index " << shown_text(p.path) << ": " << p.error << '\n';
  std::ostringstream alone;
  const std::size_t left = print_left_alone(alone, *comparison);
  if (left > 0) out << "Left alone (" << left << "):\n" << alone.str();
  if (left == 0 && failed.empty()) {
    if (dry) out << (to_index.empty() && deleted.empty() ? "Nothing to do.\n" : "Nothing changed (dry run).\n");
    return kExitOk;
  }
  return kExitProblems;
}

}  // namespace mcp
