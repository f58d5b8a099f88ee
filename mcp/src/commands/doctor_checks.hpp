#pragma once
// What doctor finds, gathered once and then printed for a person or as JSON.

#include "config/config.hpp"
#include "store/trash.hpp"
#include "sync/vault_compare.hpp"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace mcp {

// What a server following the vault's files (core::VaultFollower) left in
// the index, and what watching it would take here.
struct FollowFindings {
  std::size_t seen_files = 0;        // files whose stamps a follower recorded
  std::optional<std::string> how;    // its last word on how it follows; none before any follower ran
  std::optional<std::string> since;  // when that became so
  std::size_t folders = 0;           // folders under notes/ a watcher would watch, links followed
  std::optional<std::size_t> watch_limit;  // this user's inotify watch limit, where there is one
};

struct DoctorFindings {
  std::filesystem::path config_dir;
  core::ConfigFileCheck mcp_file;
  core::McpConfig mcp;
  core::ConfigFileCheck settings_file;
  std::size_t library_entries = 0;
  std::optional<std::string> settings_vault_path;

  std::optional<std::filesystem::path> vault;  // none when --vault named nothing
  std::string vault_source;                     // or the failure text
  bool vault_exists = false;
  bool marker = false;
  std::optional<std::string> notes_problem;  // notes_folder_problem's text
  bool index_exists = false;
  std::optional<std::string> index_error;   // the index would not open
  std::vector<std::string> integrity;       // PRAGMA integrity_check rows; {"ok"} when sound
  std::optional<std::string> fts_error;     // the full-text integrity check failed
  std::optional<core::VaultComparison> comparison;
  std::optional<std::string> comparison_error;
  std::optional<core::TrashSummary> trash;   // none when the vault is missing or the trash unreadable
  std::optional<std::string> trash_error;
  std::optional<std::string> trash_unwritable;  // why a delete could not put a note in the trash
  std::optional<FollowFindings> follow;         // none when the index does not open

  // One line per problem, for a person; empty when all is well.
  std::vector<std::string> problems;
};

// Reads everything; writes nothing (the index is opened read-only, the
// full-text check changes nothing).
DoctorFindings run_doctor_checks(const std::string* vault_option);

// The findings as one JSON object (lists cut to their first 20, with counts).
// Paths are in shown_path's form, so the object always serialises.
nlohmann::json doctor_json(const DoctorFindings& findings);

}  // namespace mcp
