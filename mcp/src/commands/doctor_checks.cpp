#include "commands/doctor_checks.hpp"

#include "commands/shown_path.hpp"
#include "commands/vault_choice.hpp"
#include "config/vault_check.hpp"
#include "base/files.hpp"
#include "index/index_db.hpp"
#include "index/indexer.hpp"
#include "index/sqlite.hpp"
#include "sync/seen_files.hpp"


#include <cerrno>
#include <fstream>
#include <system_error>

namespace mcp {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr std::size_t kShown = 20;

// A file name as a read-only SQLite URI: the characters a URI gives meaning
// to are escaped.
std::string read_only_uri(const fs::path& file) {
  std::string uri = "file:";
  for (char c : fs::absolute(file).string()) {
    if (c == '%' || c == '?' || c == '#') {
      static constexpr char kHex[] = "0123456789ABCDEF";
      uri += '%';
      uri += kHex[(static_cast<unsigned char>(c) >> 4) & 0xF];
      uri += kHex[static_cast<unsigned char>(c) & 0xF];
    } else {
      uri += c;
    }
  }
  return uri + "?mode=ro";
}

std::string_view state_name(core::ConfigFileState state) {
  switch (state) {
    case core::ConfigFileState::Missing: return "missing";
    case core::ConfigFileState::Read: return "read";
    case core::ConfigFileState::Unreadable: return "unreadable";
    case core::ConfigFileState::Invalid: break;
  }
  return "not valid";
}

void check_config(DoctorFindings& f) {
  f.config_dir = core::config_dir();
  f.mcp_file = core::check_mcp_config(f.mcp);
  core::VaultLibrarySnapshot library;
  f.settings_file = core::check_settings(library);
  f.library_entries = library.vaults.size();
  f.settings_vault_path = core::read_settings_vault_path();
  for (const core::ConfigFileCheck* file : {&f.mcp_file, &f.settings_file})
    if (file->state == core::ConfigFileState::Invalid || file->state == core::ConfigFileState::Unreadable)
      f.problems.push_back(shown_path(file->file) + " is " + std::string(state_name(file->state)) + ": " + file->problem);
  if (!f.mcp.enabled)
    f.problems.push_back("tool calls are refused: " + shown_path(f.mcp_file.file) + " does not set \"enabled\" to true");
}

// PRAGMA integrity_check on the read-only connection.
void check_integrity(DoctorFindings& f, sqlite3* db) {
  auto stmt = core::prepare(db, "PRAGMA integrity_check");
  if (!stmt) {
    f.integrity = {core::to_text(stmt.error())};
    return;
  }
  for (;;) {
    auto row = stmt->step();
    if (!row) {
      f.integrity.push_back(core::to_text(row.error()));
      break;
    }
    if (!*row) break;
    auto text = stmt->column_text(0);
    f.integrity.push_back(text ? *text : core::to_text(text.error()));
  }
}

// The full-text table's own check runs as an INSERT, which a read-only
// connection refuses; it changes nothing, so it runs on a connection of
// its own inside a transaction that is rolled back.
void check_fts(DoctorFindings& f, const fs::path& index) {
  auto db = core::open_database(index);
  if (!db) {
    f.fts_error = core::to_text(db.error());
    return;
  }
  (void)core::exec(db->get(), "BEGIN");
  auto checked = core::exec(db->get(), "INSERT INTO notes_fts(notes_fts) VALUES('integrity-check')");
  (void)core::exec(db->get(), "ROLLBACK");
  if (!checked) f.fts_error = core::to_text(checked.error());
}

// This user's inotify watch limit; nullopt where there is none to read.
std::optional<std::size_t> watch_limit() {
#ifdef __linux__
  std::ifstream in("/proc/sys/fs/inotify/max_user_watches");
  std::size_t limit = 0;
  if (in >> limit) return limit;
#endif
  return std::nullopt;
}

// What the follower left in the index, and what watching `notes/` takes.
void check_follow(DoctorFindings& f, const core::Vault& vault) {
  FollowFindings follow;
  if (core::has_seen_tables(vault)) {
    if (auto seen = core::read_seen(vault)) follow.seen_files = seen->size();
    if (auto state = core::read_follow_state(vault)) {
      if (auto how = state->find("how"); how != state->end()) follow.how = how->second;
      if (auto since = state->find("since"); since != state->end()) follow.since = since->second;
    }
  }
  if (!f.notes_problem) follow.folders = core::walk_notes(vault.root / "notes").folders.size();
  follow.watch_limit = watch_limit();
  if (f.mcp.follow_files && follow.watch_limit && follow.folders > *follow.watch_limit)
    f.problems.push_back("following the files: notes/ has " + std::to_string(follow.folders) +
                         " folders, more than the inotify watch limit of " + std::to_string(*follow.watch_limit) +
                         " (fs.inotify.max_user_watches): the server walks notes/ every few seconds instead");
  f.follow = std::move(follow);
}

void check_vault(DoctorFindings& f, const fs::path& root) {
  std::error_code ec;
  const std::optional<core::VaultProblem> problem = core::vault_problem(root);
  f.vault_exists = problem != core::VaultProblem::Missing;
  f.marker = !problem;
  if (problem == core::VaultProblem::Missing) {
    f.problems.push_back(core::vault_problem_text(*problem, shown_path(root)) + " (`brask-tolvane-mcp init` makes one)");
    return;
  }
  if (problem) {
    f.problems.push_back(core::vault_problem_text(*problem, shown_path(root)));
    return;
  }
  f.notes_problem = core::notes_folder_problem(root);
  if (f.notes_problem)
    f.problems.push_back(*f.notes_problem + " in " + shown_path(root) +
                         ": the notes cannot be compared with the index, and reindex refuses until it is back");
  const fs::path index = root / ".brask-tolvane" / "index.db";
  f.index_exists = fs::is_regular_file(index, ec);
  if (!f.index_exists) {
    f.problems.push_back("no index: " + shown_path(index) + " (`brask-tolvane-mcp reindex` makes and fills it)");
    return;
  }
  auto db = core::open_database(core::utf8_path(read_only_uri(index)));
  if (!db) {
    f.index_error = core::to_text(db.error());
    f.problems.push_back("the index does not open: " + shown_path(index) + ": " + *f.index_error);
    return;
  }
  check_integrity(f, db->get());
  if (f.integrity != std::vector<std::string>{"ok"})
    f.problems.push_back("the index fails its integrity check: " + shown_path(index));
  check_fts(f, index);
  if (f.fts_error) f.problems.push_back("the full-text index fails its check: " + *f.fts_error);
  const core::Vault vault(root, std::move(*db));
  check_follow(f, vault);
  if (f.notes_problem) return;  // nothing to compare with
  auto comparison = core::compare_vault(vault);
  if (!comparison) {
    f.comparison_error = core::to_text(comparison.error());
    f.problems.push_back("the index cannot be read: " + *f.comparison_error);
    return;
  }
  const core::VaultComparison& c = *comparison;
  std::size_t fresh = 0;
  for (const core::NoteChange& change : c.to_index) fresh += change.is_new ? 1 : 0;
  auto count = [&](std::size_t n, std::string_view what) {
    if (n > 0) f.problems.push_back(std::string(what) + ": " + std::to_string(n));
  };
  count(fresh, "note files not in the index");
  count(c.gone.size(), "index rows whose file is gone");
  count(c.to_index.size() - fresh, "index rows that differ from their file");
  for (const core::FileProblem& p : c.unreadable) f.problems.push_back("cannot read " + shown_text(p.path) + ": " + p.error);
  for (const std::string& path : c.without_frontmatter) f.problems.push_back("no frontmatter in " + shown_text(path));
  for (const core::DuplicateId& d : c.duplicates) f.problems.push_back("id " + d.id + " is held by two files or more");
  f.comparison = std::move(*comparison);
}

template <class T, class Map>
json first_of(const std::vector<T>& items, Map map) {
  json list = json::array();
  for (std::size_t i = 0; i < items.size() && i < kShown; ++i) list.push_back(map(items[i]));
  return list;
}

// Why a delete could not put a note into the trash of `root`, or nullopt
// when it could: the trash must be a folder this user may write in, or be
// missing from a marker folder this user may write in (a delete makes it).
std::optional<std::string> trash_unwritable(const fs::path& root) {
  const fs::path trash = core::trash_folder(root);
  auto denied = [](const fs::path& folder) -> std::optional<std::string> {
    const int error = core::folder_writable(folder);
    if (error == 0) return std::nullopt;
    return std::error_code(error, std::generic_category()).message();
  };
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(trash, ec))) {
    if (auto why = denied(trash.parent_path()))
      return "the trash cannot be made in " + shown_path(trash.parent_path()) + ": " + *why;
    return std::nullopt;
  }
  if (!fs::is_directory(trash, ec)) return "the trash " + shown_path(trash) + " is not a folder";
  if (auto why = denied(trash)) return "the trash " + shown_path(trash) + " cannot be written: " + *why;
  return std::nullopt;
}

void check_trash(DoctorFindings& f, const fs::path& root) {
  auto trash = core::trash_summary(root);
  if (trash) f.trash = *trash;
  else f.trash_error = core::to_text(trash.error());
  f.trash_unwritable = trash_unwritable(root);
  if (f.trash_unwritable) f.problems.push_back(*f.trash_unwritable + ": delete_note fails until it is mended");
  else if (f.trash_error) f.problems.push_back("the trash cannot be listed: " + *f.trash_error);
}

json config_file_json(const core::ConfigFileCheck& check) {
  json file = {{"file", shown_path(check.file)}, {"state", state_name(check.state)}};
  if (!check.problem.empty()) file["problem"] = check.problem;
  return file;
}

}  // namespace

DoctorFindings run_doctor_checks(const std::string* vault_option) {
  DoctorFindings f;
  check_config(f);
  auto choice = choose_vault(vault_option, f.mcp);
  if (!choice) {
    f.vault_source = choice.error();
    f.problems.push_back(choice.error());
    return f;
  }
  f.vault = choice->root;
  f.vault_source = choice->source;
  check_vault(f, choice->root);
  if (f.marker) check_trash(f, choice->root);
  return f;
}

json doctor_json(const DoctorFindings& f) {
  json mcp = config_file_json(f.mcp_file);
  mcp["enabled"] = f.mcp.enabled;
  mcp["vault_path"] = f.mcp.vault_path ? json(*f.mcp.vault_path) : json(nullptr);
  mcp["follow_files"] = f.mcp.follow_files;
  json settings = config_file_json(f.settings_file);
  settings["library_entries"] = f.library_entries;
  settings["vault_path"] = f.settings_vault_path ? json(*f.settings_vault_path) : json(nullptr);
  json out = {{"config_dir", shown_path(f.config_dir)},
              {"mcp_json", mcp},
              {"settings_json", settings},
              {"enabled", f.mcp.enabled}};
  json vault = json::object();
  if (f.vault) {
    vault = {{"path", shown_path(*f.vault)}, {"source", f.vault_source}, {"exists", f.vault_exists},
             {"marker", f.marker}, {"index_exists", f.index_exists}};
    if (f.marker) vault["notes"] = f.notes_problem ? json(*f.notes_problem) : json("ok");
    if (f.index_error) vault["index_error"] = *f.index_error;
    if (!f.integrity.empty()) vault["integrity_check"] = f.integrity;
    if (f.index_exists && !f.index_error) vault["fts_check"] = f.fts_error ? json(*f.fts_error) : json("ok");
    if (f.trash) vault["trash"] = {{"notes", f.trash->count}, {"bytes", f.trash->bytes}};
    if (f.trash_error) vault["trash"] = {{"error", *f.trash_error}};
    if (f.trash_unwritable) vault["trash"]["unwritable"] = *f.trash_unwritable;
    if (f.follow) {
      json follow = {{"seen_files", f.follow->seen_files}, {"folders", f.follow->folders},
                     {"how", f.follow->how ? json(*f.follow->how) : json(nullptr)},
                     {"since", f.follow->since ? json(*f.follow->since) : json(nullptr)},
                     {"watch_limit", f.follow->watch_limit ? json(*f.follow->watch_limit) : json(nullptr)}};
      vault["follow"] = follow;
    }
  } else {
    vault = {{"error", f.vault_source}};
  }
  out["vault"] = vault;
  if (f.comparison) {
    const core::VaultComparison& c = *f.comparison;
    std::vector<const core::NoteChange*> fresh, differing;
    for (const core::NoteChange& change : c.to_index) (change.is_new ? fresh : differing).push_back(&change);
    auto path_of = [&](const core::NoteChange* change) { return shown_text(core::stored_path(*f.vault, change->note.path)); };
    out["index"] = {
        {"notes_on_disk", c.files},
        {"live_rows", c.live_rows},
        {"not_indexed", {{"count", fresh.size()}, {"first", first_of(fresh, path_of)}}},
        {"file_gone", {{"count", c.gone.size()}, {"first", first_of(c.gone, [](const std::string& id) { return id; })}}},
        {"differ",
         {{"count", differing.size()},
          {"first", first_of(differing, [&](const core::NoteChange* change) {
             return json{{"id", change->note.frontmatter.id}, {"path", path_of(change)}, {"fields", change->differs}};
           })}}},
        {"unreadable",
         {{"count", c.unreadable.size()},
          {"first", first_of(c.unreadable, [](const core::FileProblem& p) {
             return json{{"path", shown_text(p.path)}, {"error", p.error}};
           })}}},
        {"without_frontmatter",
         {{"count", c.without_frontmatter.size()},
          {"first", first_of(c.without_frontmatter, [](const std::string& p) { return shown_text(p); })}}},
        {"duplicate_ids",
         {{"count", c.duplicates.size()},
          {"first", first_of(c.duplicates, [](const core::DuplicateId& d) {
             json paths = json::array();
             for (const std::string& p : d.paths) paths.push_back(shown_text(p));
             return json{{"id", d.id}, {"paths", paths}};
           })}}},
    };
  }
  out["problems"] = f.problems;
  return out;
}

}  // namespace mcp
