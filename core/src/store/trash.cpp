#include "store/trash.hpp"

#include "index/index_db.hpp"
#include "index/indexer.hpp"
#include "note/note_file.hpp"
#include "store/file_move.hpp"
#include "store/note_paths.hpp"
#include "store/note_store.hpp"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <system_error>

namespace core {
namespace {

namespace fs = std::filesystem;
using std::chrono::microseconds;

constexpr size_t kStampSize = 23;  // "20261209T145257.123456Z"
constexpr int kStampAttempts = 1000;

CoreError io_error(int error) { return CoreError::io(std::generic_category().message(error)); }

std::string stamp_of(TrashClock::time_point instant) {
  const auto us = std::chrono::floor<microseconds>(instant);
  const auto secs = std::chrono::floor<std::chrono::seconds>(us);
  const std::time_t t = TrashClock::to_time_t(secs);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[96];  // room for any int the format could print
  std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d%02d.%06lldZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<long long>((us - secs).count()));
  return text;
}

// The instant a stamp names; nullopt when `stamp` is not one.
std::optional<TrashClock::time_point> parse_stamp(std::string_view stamp) {
  if (stamp.size() != kStampSize || stamp[8] != 'T' || stamp[15] != '.' || stamp[22] != 'Z') return std::nullopt;
  auto number = [&](size_t at, size_t width) {
    long long value = 0;
    for (size_t i = at; i < at + width; ++i) {
      if (stamp[i] < '0' || stamp[i] > '9') return -1LL;
      value = value * 10 + (stamp[i] - '0');
    }
    return value;
  };
  std::tm utc{};
  const long long fields[] = {number(0, 4), number(4, 2), number(6, 2), number(9, 2), number(11, 2), number(13, 2),
                              number(16, 6)};
  if (std::ranges::any_of(fields, [](long long v) { return v < 0; })) return std::nullopt;
  utc.tm_year = static_cast<int>(fields[0] - 1900);
  utc.tm_mon = static_cast<int>(fields[1] - 1);
  utc.tm_mday = static_cast<int>(fields[2]);
  utc.tm_hour = static_cast<int>(fields[3]);
  utc.tm_min = static_cast<int>(fields[4]);
  utc.tm_sec = static_cast<int>(fields[5]);
  return TrashClock::from_time_t(timegm(&utc)) + microseconds(fields[6]);
}

// "2026-12-09T14:52:57.123456+00:00" from "20261209T145257.123456Z".
std::string rfc3339_of(std::string_view stamp) {
  std::string text;
  text.append(stamp.substr(0, 4)).append("-").append(stamp.substr(4, 2)).append("-").append(stamp.substr(6, 2));
  text.append("T").append(stamp.substr(9, 2)).append(":").append(stamp.substr(11, 2)).append(":");
  text.append(stamp.substr(13, 2)).append(stamp.substr(15, 7)).append("+00:00");
  return text;
}

std::string read_text(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The stored path a record holds, normalised; nullopt for a missing or
// malformed record, or a path that leaves `notes`.
std::optional<std::string> recorded_path(const fs::path& record) {
  const nlohmann::json value = nlohmann::json::parse(read_text(record), nullptr, false);
  if (!value.is_object()) return std::nullopt;
  const auto path = value.find("path");
  if (path == value.end() || !path->is_string()) return std::nullopt;
  return normalize_stored_path(path->get<std::string>());
}

// The entry a trash file name stands for: `<stamp>-<id>.md`; nullopt for
// any other name. Title and size are filled by the caller.
std::optional<TrashEntry> entry_of(const fs::path& folder, std::string_view name) {
  if (name.size() <= kStampSize + 4 || name[kStampSize] != '-' || !name.ends_with(".md")) return std::nullopt;
  const auto deleted = parse_stamp(name.substr(0, kStampSize));
  if (!deleted) return std::nullopt;
  TrashEntry entry;
  entry.file = folder / name;
  entry.id = name.substr(kStampSize + 1, name.size() - kStampSize - 4);
  entry.deleted = *deleted;
  entry.deleted_at = rfc3339_of(name.substr(0, kStampSize));
  const fs::path record = folder / (std::string(name.substr(0, name.size() - 3)) + ".json");
  entry.original_path = recorded_path(record).value_or("notes/" + entry.id + ".md");
  entry.folder = folder_of(entry.original_path);
  return entry;
}

fs::path record_of(const TrashEntry& entry) {
  fs::path record = entry.file;
  return record.replace_extension(".json");
}

// Every trashed note, newest first; titles only when asked for.
Result<std::vector<TrashEntry>> scan(const fs::path& root, bool with_titles) {
  const fs::path folder = trash_folder(root);
  std::vector<TrashEntry> entries;
  std::error_code ec;
  if (!fs::is_directory(fs::status(folder, ec))) return entries;
  fs::directory_iterator it(folder, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    auto entry = entry_of(folder, it->path().filename().string());
    if (!entry) continue;
    std::error_code size_ec;
    entry->size = fs::file_size(entry->file, size_ec);
    if (size_ec) entry->size = 0;  // a dangling link has no size to show
    if (with_titles)
      if (auto note = read_note_file(entry->file)) entry->title = note->frontmatter.title;
    entries.push_back(std::move(*entry));
  }
  if (ec) return std::unexpected(CoreError::io(ec.message()));
  std::ranges::sort(entries, [](const TrashEntry& a, const TrashEntry& b) {
    return a.deleted != b.deleted ? a.deleted > b.deleted : a.id < b.id;
  });
  return entries;
}

// Creates `record` (which must not exist) holding `text`. EEXIST when the
// name is taken.
int write_record(const fs::path& record, std::string_view text) {
  const int fd = ::open(record.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return errno;
  int error = 0;
  for (std::string_view rest = text; !rest.empty() && error == 0;) {
    const ssize_t n = ::write(fd, rest.data(), rest.size());
    if (n < 0 && errno != EINTR) error = errno;
    if (n > 0) rest.remove_prefix(static_cast<size_t>(n));
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) ::unlink(record.c_str());
  return error;
}

bool entry_exists(const fs::path& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

// Where a restored note goes: its old folder when that still exists, else
// `notes`; under `name`.
fs::path restore_target(const fs::path& root, const TrashEntry& entry, const std::string& name) {
  const fs::path notes = root / "notes";
  fs::path folder = notes;
  for (const auto& piece : fs::path(entry.folder)) folder /= piece;
  std::error_code ec;
  if (!fs::is_directory(fs::status(folder, ec))) folder = notes;
  return folder / name;
}

}  // namespace

fs::path trash_folder(const fs::path& root) { return root / ".brask-tolvane" / "trash"; }

Result<void> move_to_trash(const fs::path& root, const fs::path& file, std::string_view id,
                           TrashClock::time_point now) {
  const fs::path folder = trash_folder(root);
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) return std::unexpected(CoreError::io(ec.message()));
  const std::string record_text =
      nlohmann::json{{"path", stored_path(root, file)}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) +
      "\n";
  auto when = std::chrono::floor<microseconds>(now);
  for (int attempt = 0; attempt < kStampAttempts; ++attempt, when += microseconds(1)) {
    const std::string base = stamp_of(when) + "-" + std::string(id);
    const fs::path record = folder / (base + ".json"), trashed = folder / (base + ".md");
    // The record is made first and exclusively: it reserves the stamp.
    const int error = write_record(record, record_text);
    if (error == EEXIST) continue;
    if (error != 0) return std::unexpected(io_error(error));
    if (entry_exists(trashed)) {  // a note file left without its record
      ::unlink(record.c_str());
      continue;
    }
    auto moved = move_file(file, trashed);
    if (!moved) ::unlink(record.c_str());  // nothing new stays in the trash
    return moved;
  }
  return std::unexpected(io_error(EEXIST));
}

Result<std::vector<TrashEntry>> list_trash(const fs::path& root) { return scan(root, true); }

Result<TrashSummary> trash_summary(const fs::path& root) {
  auto entries = scan(root, false);
  if (!entries) return std::unexpected(std::move(entries.error()));
  TrashSummary summary;
  for (const TrashEntry& entry : *entries) {
    ++summary.count;
    summary.bytes += entry.size;
  }
  return summary;
}

Result<RestoredNote> restore_from_trash(const Vault& vault, std::string_view id, std::optional<std::string_view> as_id) {
  if (as_id && !is_safe_note_id(*as_id)) return std::unexpected(CoreError::message("invalid note id: " + std::string(*as_id)));
  auto entries = scan(vault.root, false);
  if (!entries) return std::unexpected(std::move(entries.error()));
  const auto entry = std::ranges::find(*entries, id, &TrashEntry::id);
  if (entry == entries->end()) return std::unexpected(CoreError::message("nothing in the trash for id: " + std::string(id)));
  auto note = read_note_file(entry->file);
  if (!note) return std::unexpected(std::move(note.error()));

  const std::string new_id(as_id.value_or(id));
  if (note_file_exists(vault, new_id)) return std::unexpected(CoreError::message("a note with id " + new_id + " exists"));
  const std::string name = as_id ? new_id + ".md" : fs::path(entry->original_path).filename().string();
  const fs::path target = restore_target(vault.root, *entry, name);
  if (entry_exists(target))
    return std::unexpected(CoreError::message("a file exists at " + stored_path(vault.root, target)));

  std::error_code ec;
  fs::create_directories(target.parent_path(), ec);
  if (ec) return std::unexpected(CoreError::io(ec.message()));
  note->path = target;
  if (!as_id) {
    if (auto moved = move_file(entry->file, target); !moved) return std::unexpected(std::move(moved.error()));
  } else {
    note->frontmatter.id = new_id;
    if (auto written = write_note_file(*note); !written) return std::unexpected(std::move(written.error()));
    fs::remove(entry->file, ec);  // the note is back; a copy left in the trash harms nothing
  }
  fs::remove(record_of(*entry), ec);  // likewise: a record without its note file is ignored
  if (auto indexed = index_note(vault, *note); !indexed) return std::unexpected(std::move(indexed.error()));
  return RestoredNote{note->frontmatter.id, stored_path(vault.root, target)};
}

Result<std::vector<TrashEntry>> empty_trash(const fs::path& root, std::optional<TrashClock::time_point> before) {
  auto entries = scan(root, true);
  if (!entries) return std::unexpected(std::move(entries.error()));
  std::vector<TrashEntry> removed;
  for (TrashEntry& entry : *entries) {
    if (before && entry.deleted >= *before) continue;
    std::error_code ec;
    fs::remove(entry.file, ec);
    if (ec) return std::unexpected(CoreError::io(ec.message()));
    fs::remove(record_of(entry), ec);  // a record without its note file is ignored
    removed.push_back(std::move(entry));
  }
  return removed;
}

}  // namespace core
