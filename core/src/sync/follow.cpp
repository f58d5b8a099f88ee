#include "sync/follow.hpp"

#include "base/ids.hpp"
#include "index/index_db.hpp"
#include "index/lookups.hpp"
#include "index/sqlite.hpp"
#include "index/stored_path.hpp"
#include "note/note_file.hpp"
#include "store/note_paths.hpp"
#include "sync/seen_files.hpp"
#include "sync/vault_compare.hpp"

#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace core {
namespace {

namespace fs = std::filesystem;

// The most notes one step writes in a single transaction.
constexpr std::size_t kOneCommit = 32;

constexpr std::string_view kLiveRows = "SELECT id, path FROM note_files WHERE deleted_at IS NULL";

std::optional<std::int64_t> pragma_value(sqlite3* db, std::string_view name) {
  auto stmt = prepare(db, "PRAGMA " + std::string(name));
  if (!stmt) return std::nullopt;
  auto row = stmt->step();
  if (!row || !*row) return std::nullopt;
  return stmt->column_int64(0);
}

// While it lives, `db` gives up at once on a lock another connection holds
// instead of waiting out its busy timeout: following never makes a call
// wait for another program.
class NoWaiting {
 public:
  explicit NoWaiting(sqlite3* db) : db_(db), saved_(pragma_value(db, "busy_timeout")) { sqlite3_busy_timeout(db, 0); }
  ~NoWaiting() {
    if (saved_) sqlite3_busy_timeout(db_, static_cast<int>(*saved_));
  }
  NoWaiting(const NoWaiting&) = delete;
  NoWaiting& operator=(const NoWaiting&) = delete;

 private:
  sqlite3* db_;
  std::optional<std::int64_t> saved_;
};

// While it lives, commits on `db` are not flushed to disk (the log still
// keeps them whole): for the server's own record of stamps, whose loss in a
// crash costs only reading the files again. The next flushed commit makes
// them durable too.
class UnflushedCommits {
 public:
  explicit UnflushedCommits(sqlite3* db) : db_(db), saved_(pragma_value(db, "synchronous")) {
    (void)exec(db, "PRAGMA synchronous = NORMAL");
  }
  ~UnflushedCommits() {
    if (saved_) (void)exec(db_, "PRAGMA synchronous = " + std::to_string(*saved_));
  }
  UnflushedCommits(const UnflushedCommits&) = delete;
  UnflushedCommits& operator=(const UnflushedCommits&) = delete;

 private:
  sqlite3* db_;
  std::optional<std::int64_t> saved_;
};

bool exists_as_entry(const fs::path& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

// A file that holds a note, read in this step.
struct Holder {
  std::string stored;
  Note note;
  std::optional<FileStamp> stamp;
};

}  // namespace

// What one step looked at.
struct VaultFollower::Looked {
  bool complete = false;                    // every folder under notes/ was walked
  std::unordered_map<std::string, WalkedFile> files;  // every `.md` entry looked at, by stored path
  std::vector<std::string> unlisted;        // folders that could not be listed, each with its "/"
  SeenFiles seen;                           // what was seen last where this step looked
  bool ok = true;                           // false: the record of what was seen could not be read
};

void VaultFollower::give_up_watching(std::string why) {
  if (no_watch_) return;
  no_watch_ = std::move(why);
  watch_ = FolderWatch();
  walk_needed_ = true;
}

void VaultFollower::start(Vault& vault) {
  if (is_read_only(vault.db())) {
    started_ = true;
    off_ = "this process may not write the index";
    return;
  }
  if (!has_seen_tables(vault)) {
    const NoWaiting no_wait(vault.db());
    if (!create_seen_tables(vault)) return;  // tried again at the next call
  }
  started_ = true;
  // What an earlier server said stands until this one says otherwise.
  if (auto state = read_follow_state(vault); state && state->contains("how")) told_ = state->at("how");
  if (!options_.watch) no_watch_ = "watching is off";
  else if (auto why = watch_.start()) no_watch_ = std::move(*why);
}

VaultFollower::Looked VaultFollower::look(Vault& vault, bool walk) {
  Looked looked;
  auto watch_folder = [&](const fs::path& folder) {
    if (no_watch_) return;
    if (auto why = watch_.add(folder)) give_up_watching(std::move(*why));
  };
  auto walk_folder = [&](const fs::path& folder) {
    // Each folder is watched before it is listed, so nothing written in
    // it after the listing goes unnoticed.
    NotesWalk walked = walk_notes(folder, watch_folder);
    looked.files.reserve(looked.files.size() + walked.files.size());
    for (WalkedFile& file : walked.files) {
      std::string stored = stored_path(vault.root, file.path);
      looked.files.insert_or_assign(std::move(stored), std::move(file));
    }
    for (const auto& [unlisted, why] : walked.unlisted) looked.unlisted.push_back(stored_path(vault.root, unlisted) + "/");
  };
  if (walk) {
    looked.complete = true;
    walk_folder(vault.root / "notes");
    auto seen = read_seen(vault);
    if (!seen) looked.ok = false;
    else looked.seen = std::move(*seen);
    return looked;
  }
  for (const fs::path& path : pending_) {
    const std::string stored = stored_path(vault.root, path);
    const std::optional<FileStamp> stamp = file_stamp(path);
    if (stamp && stamp->folder) walk_folder(path);
    else if (path.extension() == ".md" && (stamp || exists_as_entry(path))) looked.files.insert_or_assign(stored, WalkedFile{path, stamp});
    // The path itself and, had it been a folder, everything below it.
    auto seen = read_seen(vault, stored);
    if (!seen) {
      looked.ok = false;
      return looked;
    }
    looked.seen.merge(*seen);
  }
  return looked;
}

bool VaultFollower::take_in(Vault& vault, Looked& looked, FollowStep& step) {
  VaultComparison comparison;
  comparison.data_version = data_version(vault);  // before any row is read: a commit after it shows
  SeenFiles record;
  std::vector<std::string> forget;
  std::set<std::string> changed;     // stored paths of the files read
  std::set<std::string> affected;    // ids whose files may have changed
  std::set<std::string> left_alone;  // stored paths of files indexing leaves alone
  std::map<std::string, std::vector<Holder>> holders;  // the files read, by the id they hold
  auto unlisted = [&](const std::string& stored) {
    return std::any_of(looked.unlisted.begin(), looked.unlisted.end(),
                       [&](const std::string& folder) { return stored.starts_with(folder); });
  };

  for (auto& [stored, file] : looked.files) {
    ++step.looked_at;
    const auto seen = looked.seen.find(stored);
    if (seen != looked.seen.end() && file.stamp && seen->second.stamp == *file.stamp) {
      if (!seen->second.id) left_alone.insert(stored);
      continue;
    }
    changed.insert(stored);
    if (seen != looked.seen.end() && seen->second.id) affected.insert(*seen->second.id);
    ++step.read;
    auto read = read_note_file_checked(file.path);
    if (!read || !read->has_frontmatter) {
      left_alone.insert(stored);
      if (file.stamp) record[stored] = {std::nullopt, *file.stamp};
      continue;
    }
    const std::string id = read->note.frontmatter.id;
    affected.insert(id);
    holders[id].push_back({stored, std::move(read->note), file.stamp});
  }
  std::set<std::string> vanished;
  for (const auto& [stored, seen] : looked.seen) {
    if (looked.files.contains(stored) || unlisted(stored)) continue;
    vanished.insert(stored);
    forget.push_back(stored);
    if (seen.id) affected.insert(*seen.id);
  }

  // Each id decides alone: gone when no file holds it, indexed from its one
  // file, left alone when several hold it.
  auto remember = [&](const std::string& stored, const std::string& id, const std::optional<FileStamp>& stamp) {
    if (stamp) record[stored] = {id, *stamp};
  };
  for (const std::string& id : affected) {
    std::vector<Holder>& read_now = holders[id];
    auto seen_paths = seen_paths_holding(vault, id);
    if (!seen_paths) return false;
    std::vector<std::string> others;  // unchanged files that hold it
    for (std::string& path : *seen_paths)
      if (!changed.contains(path) && !vanished.contains(path)) others.push_back(std::move(path));
    const std::size_t files = read_now.size() + others.size();
    if (files > 1) {
      for (const Holder& holder : read_now) remember(holder.stored, id, holder.stamp);
      continue;
    }
    if (files == 0) {
      auto path = path_by_id(vault, id);
      if (!path) return false;
      if (*path && !left_alone.contains(**path) && !unlisted(**path)) comparison.gone.push_back(id);
      continue;
    }
    if (read_now.empty()) {
      // The one file left holding it had a copy, now gone: it is read again.
      const std::optional<fs::path> file = safe_stored_path(vault, others.front());
      if (!file) continue;
      const std::optional<FileStamp> stamp = file_stamp(*file);
      ++step.read;
      auto read = read_note_file_checked(*file);
      if (!read || !read->has_frontmatter || read->note.frontmatter.id != id) continue;  // the next walk sees it
      read_now.push_back({others.front(), std::move(read->note), stamp});
    }
    Holder& holder = read_now.front();
    auto change = compare_note(vault, std::move(holder.note), holder.stamp);
    if (!change) return false;
    if (*change) comparison.to_index.push_back(std::move(**change));
    remember(holder.stored, id, holder.stamp);
  }

  if (looked.complete && !rows_checked_) {
    // A live row that no file holds, and whose own file is not one left
    // alone, lost its file while nobody followed. Once per follower: from
    // then on the record of what was seen holds every file.
    std::unordered_set<std::string> held;
    held.reserve(looked.files.size());
    for (const auto& [stored, file] : looked.files)
      if (const auto seen = looked.seen.find(stored); !changed.contains(stored) && seen != looked.seen.end() && seen->second.id)
        held.insert(*seen->second.id);
    for (const auto& [id, read_now] : holders) held.insert(id);
    auto rows = prepare(vault.db(), kLiveRows);
    if (!rows) return false;
    for (;;) {
      auto row = rows->step();
      if (!row) return false;
      if (!*row) break;
      auto id = rows->column_text(0);
      if (!id || held.contains(*id) || affected.contains(*id)) continue;
      auto path = rows->column_text(1);
      if (!path || left_alone.contains(*path) || unlisted(*path)) continue;
      comparison.gone.push_back(std::move(*id));
    }
  }
  std::sort(comparison.to_index.begin(), comparison.to_index.end(),
            [](const NoteChange& a, const NoteChange& b) { return a.note.path < b.note.path; });
  std::sort(comparison.gone.begin(), comparison.gone.end());

  const std::string how_now = how();
  if (comparison.to_index.empty() && comparison.gone.empty() && record.empty() && forget.empty() && how_now == told_) {
    if (looked.complete) rows_checked_ = true;
    return true;
  }
  const NoWaiting no_wait(vault.db());
  const std::size_t writes = comparison.to_index.size() + comparison.gone.size();
  // A few notes are written in one transaction with the record of stamps,
  // so they cost one commit, as a save does. Many go in reindex's short
  // transactions, so that other programs can write between them, and the
  // record commits after them.
  std::optional<Transaction> tx;
  auto begin = [&] {
    auto begun = Transaction::begin_immediate(vault.db());
    if (begun) tx.emplace(std::move(*begun));
    return tx.has_value();
  };
  std::optional<UnflushedCommits> unflushed;
  if (writes == 0) unflushed.emplace(vault.db());  // only the record: its loss costs reads
  if (writes <= kOneCommit && !begin()) return false;
  if (writes > 0) {
    auto outcome = apply_reindex(vault, comparison);
    if (!outcome) return false;
    // A note the index refused is read again next time.
    for (const FileProblem& failed : outcome->failed) record.erase(failed.path);
    step.outcome = std::move(*outcome);
  }
  if (!tx) {
    unflushed.emplace(vault.db());
    if (!begin()) return false;
  }
  if (!write_seen(vault, record, forget)) return false;
  if (how_now != told_) {
    if (!write_follow_state(vault, "how", how_now) || !write_follow_state(vault, "since", now_timestamp())) return false;
  }
  if (!tx->commit()) return false;
  told_ = how_now;
  if (looked.complete) rows_checked_ = true;
  return true;
}

FollowStep VaultFollower::follow(Vault& vault, Clock::time_point now) {
  FollowStep step;
  if (!started_) start(vault);
  if (!started_) {
    step.deferred = true;
    return step;
  }
  if (off_) return step;
  if (!no_watch_) {
    WatchNews news = watch_.take();
    if (news.lost) walk_needed_ = true;
    pending_.insert(news.entries.begin(), news.entries.end());
    pending_.insert(news.folders_gone.begin(), news.folders_gone.end());
    if (pending_.size() > options_.most_entries) walk_needed_ = true;
  }
  bool walk = walk_needed_;
  if (no_watch_ && (!last_walk_ || now - *last_walk_ >= options_.walk_every)) walk = true;
  if (!walk && pending_.empty()) return step;
  // A notes folder that cannot be walked (a disk not mounted) says nothing
  // of its notes: nothing is taken in until it can.
  if (notes_folder_problem(vault.root)) {
    walk_needed_ = true;
    return step;
  }
  step.walked = walk;
  Looked looked = look(vault, walk);
  if (!looked.ok || !take_in(vault, looked, step)) {
    step.deferred = true;
    return step;
  }
  pending_.clear();
  if (walk) {
    walk_needed_ = false;
    last_walk_ = now;
  }
  return step;
}

std::string VaultFollower::how() const {
  if (off_) return "off: " + *off_;
  if (no_watch_) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(options_.walk_every).count();
    return "walking notes/ at most every " + std::to_string(seconds) + " s: " + *no_watch_;
  }
  return std::string(FolderWatch::mechanism()) + ", " + std::to_string(watch_.folders()) + " folders";
}

}  // namespace core
