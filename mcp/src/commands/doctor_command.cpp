#include "commands/doctor_command.hpp"

#include "commands/command.hpp"
#include "commands/command_args.hpp"
#include "commands/doctor_checks.hpp"
#include "commands/shown_path.hpp"
#include "index/indexer.hpp"

#include <ostream>

namespace mcp {
namespace {

constexpr std::string_view kHelp =
    "Usage: brask-tolvane-mcp doctor [--vault V] [--json]\n"
    "\n"
    "Shows why the server does what it does, changing nothing: the\n"
    "configuration files and what was read from them, whether tool calls are\n"
    "enabled, which vault the default chain picks and from which source, the\n"
    "state of the vault's index, and how the index stands against the note\n"
    "files. The first thing to run when something is wrong.\n"
    "\n"
    "Options:\n"
    "  --vault V  check this vault (a path, or a library label or id) instead\n"
    "  --json     print one JSON object, for scripts\n"
    "  --help     print this text\n"
    "\n"
    "Exit status: 0 nothing wrong, 1 problems found, 2 bad usage.\n";

constexpr std::size_t kShown = 20;

std::string_view state_text(core::ConfigFileState state) {
  switch (state) {
    case core::ConfigFileState::Missing: return "missing";
    case core::ConfigFileState::Read: return "read";
    case core::ConfigFileState::Unreadable: return "cannot be read";
    case core::ConfigFileState::Invalid: break;
  }
  return "NOT VALID";
}

void print_file(std::ostream& out, std::string_view name, const core::ConfigFileCheck& check) {
  out << "  " << name << ": " << state_text(check.state);
  if (!check.problem.empty()) out << ": " << check.problem;
  out << "\n    " << shown_path(check.file) << '\n';
}

// "  <title>: N" and the first entries, one a line.
template <class T, class Line>
void print_list(std::ostream& out, std::string_view title, const std::vector<T>& items, Line line) {
  out << "  " << title << ": " << items.size() << '\n';
  for (std::size_t i = 0; i < items.size() && i < kShown; ++i) out << "    " << line(items[i]) << '\n';
  if (items.size() > kShown) out << "    ... and " << items.size() - kShown << " more\n";
}

void print_comparison(std::ostream& out, const std::filesystem::path& root, const core::VaultComparison& c) {
  out << "Index against files:\n";
  out << "  notes on disk: " << c.files << "\n  live index rows: " << c.live_rows << '\n';
  std::vector<const core::NoteChange*> fresh, differing;
  for (const core::NoteChange& change : c.to_index) (change.is_new ? fresh : differing).push_back(&change);
  print_list(out, "files not in the index", fresh,
             [&](const core::NoteChange* n) { return shown_text(core::stored_path(root, n->note.path)); });
  print_list(out, "rows whose file is gone", c.gone, [](const std::string& id) { return id; });
  print_list(out, "rows that differ from their file", differing, [&](const core::NoteChange* n) {
    std::string line = n->note.frontmatter.id + " (" + shown_text(core::stored_path(root, n->note.path)) + "):";
    for (const std::string& field : n->differs) line += " " + field;
    return line;
  });
  print_list(out, "files that cannot be read", c.unreadable,
             [](const core::FileProblem& p) { return shown_text(p.path) + ": " + p.error; });
  print_list(out, "files without frontmatter", c.without_frontmatter, [](const std::string& p) { return shown_text(p); });
  print_list(out, "ids held by two files", c.duplicates, [](const core::DuplicateId& d) {
    std::string line = d.id + ":";
    for (const std::string& p : d.paths) line += " " + shown_text(p);
    return line;
  });
}

void print_follow(std::ostream& out, bool on, const FollowFindings& follow) {
  out << "  following the files: "
      << (on ? "on (mcp.json \"follow_files\")" : "off in mcp.json (a server started with --follow-files follows anyway)")
      << '\n';
  out << "    folders to watch: " << follow.folders;
  if (follow.watch_limit) out << " (inotify watch limit: " << *follow.watch_limit << ")";
  out << '\n';
  if (follow.how) out << "    last server that followed: " << *follow.how << ", since " << follow.since.value_or("?") << '\n';
  if (follow.how || follow.seen_files > 0) out << "    files seen: " << follow.seen_files << '\n';
}

void print_text(std::ostream& out, const DoctorFindings& f) {
  out << "Configuration folder: " << shown_path(f.config_dir) << '\n';
  print_file(out, "mcp.json", f.mcp_file);
  out << "    enabled: " << (f.mcp.enabled ? "true" : "false")
      << ", vault_path: " << (f.mcp.vault_path ? "\"" + *f.mcp.vault_path + "\"" : "(none)")
      << ", follow_files: " << (f.mcp.follow_files ? "true" : "false") << '\n';
  print_file(out, "settings.json", f.settings_file);
  out << "    vault_path: " << (f.settings_vault_path ? "\"" + *f.settings_vault_path + "\"" : "(none)")
      << ", library entries: " << f.library_entries << '\n';
  out << "Tool calls: " << (f.mcp.enabled ? "enabled" : "refused (mcp.json does not set \"enabled\" to true)") << '\n';
  if (!f.vault) {
    out << "Vault: " << f.vault_source << '\n';
  } else {
    out << "Vault: " << shown_path(*f.vault) << " (from " << f.vault_source << ")\n";
    out << "  folder: " << (f.vault_exists ? "exists" : "MISSING") << '\n';
    if (f.vault_exists) out << "  .brask-tolvane/: " << (f.marker ? "present" : "MISSING") << '\n';
    if (f.marker) out << "  notes/: " << (f.notes_problem ? "NOT USABLE: " + *f.notes_problem : "present") << '\n';
    if (f.marker) {
      out << "  index.db: ";
      if (!f.index_exists) out << "MISSING\n";
      else if (f.index_error) out << "DOES NOT OPEN: " << *f.index_error << '\n';
      else {
        out << "opens\n  integrity check: ";
        for (std::size_t i = 0; i < f.integrity.size() && i < kShown; ++i) out << (i ? "; " : "") << f.integrity[i];
        out << "\n  full-text check: " << (f.fts_error ? *f.fts_error : "ok") << '\n';
      }
    }
    if (f.trash) out << "  trash: " << f.trash->count << " deleted notes, " << f.trash->bytes << " bytes\n";
    if (f.trash_error) out << "  trash: cannot be read: " << *f.trash_error << '\n';
    if (f.trash_unwritable) out << "  trash: DELETES FAIL: " << *f.trash_unwritable << '\n';
    if (f.follow) print_follow(out, f.mcp.follow_files, *f.follow);
    if (f.comparison) print_comparison(out, *f.vault, *f.comparison);
  }
  if (f.problems.empty()) {
    out << "No problems found.\n";
    return;
  }
  out << "Problems (" << f.problems.size() << "):\n";
  for (const std::string& problem : f.problems) out << "  - " << problem << '\n';
  if (f.comparison && (!f.comparison->to_index.empty() || !f.comparison->gone.empty()))
    out << "Run `brask-tolvane-mcp reindex` to bring the index in step with the files.\n";
}

}  // namespace

int doctor_main(std::span<const std::string_view> args, std::ostream& out, std::ostream& err) {
  auto parsed = begin_command("doctor", kHelp, args, {"vault"}, {"json", "help"}, 0, out, err);
  if (!parsed) return parsed.error();
  const DoctorFindings findings = run_doctor_checks(parsed->option("vault"));
  // Paths are already in their escaped form; the replacing dump only keeps
  // a stray byte in some other text (an error quoting a file) from ending
  // the report.
  if (parsed->has("json")) out << doctor_json(findings).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
  else print_text(out, findings);
  if (findings.problems.empty()) return kExitOk;
  // Problems are a finding, reported on stdout; stderr says only that there were.
  err << "brask-tolvane-mcp doctor: " << findings.problems.size() << " problem(s) found\n";
  return kExitProblems;
}

}  // namespace mcp
