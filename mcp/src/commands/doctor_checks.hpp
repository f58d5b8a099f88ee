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
