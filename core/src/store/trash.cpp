#include "store/trash.hpp"

#include "base/files.hpp"
#include "index/index_db.hpp"
#include "index/indexer.hpp"
#include "index/sqlite.hpp"
#include "note/note_file.hpp"
#include "store/file_changes.hpp"
#include "store/file_move.hpp"
#include "store/note_paths.hpp"
#include "store/note_store.hpp"

#include <nlohmann/json.hpp>


#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <system_error>

namespace core {
namespace {

namespace fs = std::filesystem;
using std::chrono::microseconds;

constexpr size_t kStampSize = 23;  // "20261209T145257.123456Z"
constexpr int kStampAttempts = 1000;
constexpr size_t kStemMax = 200;           // bytes of an id in a trash file name
constexpr size_t kRecordMax = 1 << 20;     // a record is a line of JSON; a larger file is no record

std::string stamp_of(TrashTime us) {
  const auto secs = std::chrono::floor<std::chrono::seconds>(us);
  // The civil calendar of <chrono>, the same on every platform.
  const auto day = std::chrono::floor<std::chrono::days>(secs);
  const std::chrono::year_month_day date{day};
  const std::chrono::hh_mm_ss time{secs - day};
  char text[96];  // room for any int the format could print
  std::snprintf(text, sizeof text, "%04d%02u%02uT%02d%02d%02d.%06lldZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()), static_cast<long long>((us - secs).count()));
  return text;
}

// The instant a stamp names; nullopt when `stamp` is not one. Microseconds
// count far enough for any four-digit year.
std::optional<TrashTime> parse_stamp(std::string_view stamp) {
  if (stamp.size() != kStampSize || stamp[8] != 'T' || stamp[15] != '.' || stamp[22] != 'Z') return std::nullopt;
  auto number = [&](size_t at, size_t width) {
    long long value = 0;
    for (size_t i = at; i < at + width; ++i) {
      if (stamp[i] < '0' || stamp[i] > '9') return -1LL;
      value = value * 10 + (stamp[i] - '0');
    }
    return value;
  };
  const long long fields[] = {number(0, 4), number(4, 2), number(6, 2), number(9, 2), number(11, 2), number(13, 2),
                              number(16, 6)};
  if (std::ranges::any_of(fields, [](long long v) { return v < 0; })) return std::nullopt;
  // Out-of-range fields carry over into the next unit, as timegm does.
  using namespace std::chrono;
  const sys_days first{year{static_cast<int>(fields[0])} / January / 1};
  const sys_days month_start{year_month_day{first} + months{fields[1] - 1}};
  const auto instant = month_start + days{fields[2] - 1} + hours{fields[3]} + minutes{fields[4]} +
                       seconds{fields[5]};
  return TrashTime(duration_cast<seconds>(instant.time_since_epoch())) + microseconds(fields[6]);
}

// "2026-12-09T14:52:57.123456+00:00" from "20261209T145257.123456Z".
std::string rfc3339_of(std::string_view stamp) {
  std::string text;
  text.append(stamp.substr(0, 4)).append("-").append(stamp.substr(4, 2)).append("-").append(stamp.substr(6, 2));
  text.append("T").append(stamp.substr(9, 2)).append(":").append(stamp.substr(11, 2)).append(":");
  text.append(stamp.substr(13, 2)).append(stamp.substr(15, 7)).append("+00:00");
  return text;
}

// What a record holds: where the note was, and the id it was deleted by
// when the file name could not carry it. Members missing or malformed are
// none; a path that leaves `notes` is none.
struct Record {
  std::optional<std::string> id;
  std::optional<std::string> path;
};

Record read_record(const fs::path& file) {
  Record record;
  auto text = read_regular_file(file, kRecordMax);
  if (!text) return record;
  const nlohmann::json value = nlohmann::json::parse(*text, nullptr, false);
  if (!value.is_object()) return record;
  if (const auto id = value.find("id"); id != value.end() && id->is_string()) record.id = id->get<std::string>();
  if (const auto path = value.find("path"); path != value.end() && path->is_string())
    record.path = normalize_stored_path(path->get<std::string>());
  return record;
}

// The id as trash file names carry it: the id itself when it is a file-name
// stem of at most 200 bytes, else with "/", "\" and NUL made "_" and cut to
// 200 bytes on a character boundary (the record then keeps the whole id),
// so that every note that can be created can be deleted.
std::string trash_stem(std::string_view id) {
  std::string stem(id.substr(0, kStemMax));
  while (stem.size() < id.size() && !stem.empty() && (static_cast<unsigned char>(id[stem.size()]) & 0xC0) == 0x80)
    stem.pop_back();
  for (char& c : stem)
    if (c == '/' || c == '\\' || c == '\0') c = '_';
  return stem.empty() ? "_" : stem;
}

// The entry a trash file name stands for: `<stamp>-<stem>.md`; nullopt for
// any other name. Title and size are filled by the caller.
std::optional<TrashEntry> entry_of(const fs::path& folder, std::string_view name) {
  if (name.size() <= kStampSize + 4 || name[kStampSize] != '-' || !name.ends_with(".md")) return std::nullopt;
  const auto deleted = parse_stamp(name.substr(0, kStampSize));
  if (!deleted) return std::nullopt;
  TrashEntry entry;
  entry.file = folder / utf8_path(name);
  const Record record = read_record(folder / utf8_path(std::string(name.substr(0, name.size() - 3)) + ".json"));
  entry.id = record.id.value_or(std::string(name.substr(kStampSize + 1, name.size() - kStampSize - 4)));
  entry.deleted = *deleted;
  entry.deleted_at = rfc3339_of(name.substr(0, kStampSize));
  entry.original_path = record.path.value_or("notes/" + trash_stem(entry.id) + ".md");
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
    auto entry = entry_of(folder, path_utf8(it->path().filename()));
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

// Where a restored note goes: its old folder when that still exists, else
// `notes`; under `name`.
fs::path restore_target(const fs::path& root, const TrashEntry& entry, const std::string& name) {
  const fs::path notes = root / "notes";
  fs::path folder = notes;
  for (const auto& piece : utf8_path(entry.folder)) folder /= piece;
  std::error_code ec;
  if (!fs::is_directory(fs::status(folder, ec))) folder = notes;
  return folder / utf8_path(name);
}

}  // namespace

fs::path trash_folder(const fs::path& root) { return root / ".brask-tolvane" / "trash"; }

Result<TrashMove> move_to_trash(const fs::path& root, const fs::path& file, std::string_view id,
                                TrashClock::time_point now) {
  const fs::path folder = trash_folder(root);
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) return std::unexpected(CoreError::io(ec.message()));
  const std::string stem = trash_stem(id);
  nlohmann::json record_value{{"path", stored_path(root, file)}};
  if (stem != id) record_value["id"] = std::string(id);
  const std::string record_text = record_value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  TrashTime when = std::chrono::floor<microseconds>(now);
  for (int attempt = 0; attempt < kStampAttempts; ++attempt, when += microseconds(1)) {
    const std::string base = stamp_of(when) + "-" + stem;
    TrashMove move{file, folder / utf8_path(base + ".md"), folder / utf8_path(base + ".json")};
    // The record is made first and exclusively: it reserves the stamp.
    auto reserved = create_new_file(move.record, record_text);
    if (!reserved) return std::unexpected(std::move(reserved.error()));
    if (!*reserved) continue;
    if (entry_exists(move.trashed)) {  // a note file left without its record
      fs::remove(move.record, ec);
      continue;
    }
    if (auto moved = move_file(file, move.trashed); !moved) {
      fs::remove(move.record, ec);  // nothing new stays in the trash
      return std::unexpected(std::move(moved.error()));
    }
    return move;
  }
  return std::unexpected(io_error(EEXIST));
}

Result<void> TrashMove::undo() const {
  if (auto back = move_file(trashed, from); !back) return back;
  std::error_code ec;
  fs::remove(record, ec);  // a record without its note file is ignored
  return {};
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

Result<RestoredNote> restore_from_trash(Vault& vault, std::string_view id, std::optional<std::string_view> as_id) {
  if (as_id && !is_safe_note_id(*as_id)) return std::unexpected(CoreError::invalid("invalid note id: " + std::string(*as_id)));
  if constexpr (kWindowsNames)
    if (auto problem = as_id ? windows_name_problem(*as_id) : std::nullopt)
      return std::unexpected(CoreError::invalid("invalid note id: " + std::string(*as_id) + " (" + *problem + ")"));
  // The write lock first, as every change takes it: nothing leaves the
  // trash unless the index can take the note in with it.
  auto tx = Transaction::begin_immediate(vault.db());
  if (!tx) return std::unexpected(std::move(tx.error()));
  auto entries = scan(vault.root, false);
  if (!entries) return std::unexpected(std::move(entries.error()));
  const auto entry = std::ranges::find(*entries, id, &TrashEntry::id);
  if (entry == entries->end()) return std::unexpected(CoreError::not_found("nothing in the trash for id: " + std::string(id)));
  auto read = read_note_file_checked(entry->file);
  if (!read) return std::unexpected(std::move(read.error()));
  Note& note = read->note;
  // A file without frontmatter names no id: indexed as it is, it would be
  // a note no later reading finds again.
  if (!read->has_frontmatter && !as_id)
    return std::unexpected(CoreError::invalid("the trashed file of " + std::string(id) + " has no frontmatter, so it names no id"));

  // The note comes back as the id its file holds, which need not be the id
  // it was deleted by (a copy of another note deleted under its file name).
  const std::string new_id = as_id ? std::string(*as_id) : note.frontmatter.id;
  auto in_use = note_in_use(vault, new_id);
  if (!in_use) return std::unexpected(std::move(in_use.error()));
  if (*in_use) return std::unexpected(CoreError::conflict("a note with id " + new_id + " exists"));
  const std::string name = as_id ? new_id + ".md" : path_utf8(utf8_path(entry->original_path).filename());
  const fs::path target = restore_target(vault.root, *entry, name);
  if (entry_exists(target))
    return std::unexpected(CoreError::message("a file exists at " + stored_path(vault.root, target)));

  note.path = target;
  note.frontmatter.id = new_id;
  if (auto indexed = index_note(vault, note); !indexed) return std::unexpected(std::move(indexed.error()));
  FileChanges files;
  const fs::path record = record_of(*entry);
  if (as_id) {
    if (auto written = files.write(note); !written) return std::unexpected(std::move(written.error()));
    files.made([] { return Result<void>{}; }, [file = entry->file] {
      std::error_code ec;
      fs::remove(file, ec);  // the note is back; a copy left in the trash harms nothing
    });
  } else {
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    if (ec) return std::unexpected(CoreError::io(ec.message()));
    if (auto moved = move_file(entry->file, target); !moved) return std::unexpected(std::move(moved.error()));
    files.made([from = entry->file, target] { return move_file(target, from); });
  }
  files.made([] { return Result<void>{}; }, [record] {
    std::error_code ec;
    fs::remove(record, ec);  // a record without its note file is ignored
  });
  if (auto committed = commit_change(*tx, files); !committed) return std::unexpected(std::move(committed.error()));
  return RestoredNote{new_id, stored_path(vault.root, target)};
}

Result<std::vector<TrashEntry>> empty_trash(const fs::path& root, std::optional<TrashTime> before) {
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
