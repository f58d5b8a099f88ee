#include "sync/reindex.hpp"

#include "index/index_db.hpp"
#include "index/indexer.hpp"
#include "index/sqlite.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace core {
namespace {

using Clock = std::chrono::steady_clock;

using Write = std::function<Result<void>()>;

// Groups writes into transactions that each stay open about `budget`. A
// write that fails rolls back its whole batch, which is then replayed one
// write per transaction, so only the failing write is lost. (A savepoint
// per write would isolate failures too, but costs a statement journal on
// every page a write touches.)
//
// Each transaction, once it holds the write lock, looks whether another
// connection has committed since the comparison was read (`rows_changed`):
// from then on every write checks its row again before it writes.
class Batches {
 public:
  Batches(Vault& vault, std::chrono::milliseconds budget, std::optional<std::int64_t> compared_version)
      : vault_(vault), budget_(budget), compared_version_(compared_version) {}

  // Runs write number `item`. Failures of writes are kept (see `failures`);
  // a failure to begin or commit a transaction is returned.
  Result<void> run(std::size_t item, Write write) {
    if (!tx_) {
      auto begun = begin();
      if (!begun) return std::unexpected(std::move(begun.error()));
      tx_.emplace(std::move(*begun));
      opened_ = Clock::now();
    }
    pending_.emplace_back(item, std::move(write));
    if (auto written = pending_.back().second(); !written) return replay_alone();
    if (Clock::now() - opened_ >= budget_) return commit();
    return {};
  }

  Result<void> commit() {
    pending_.clear();
    if (!tx_) return {};
    auto done = tx_->commit();
    tx_.reset();
    return done;
  }

  // Writes that failed, by item, since the last call.
  std::vector<std::pair<std::size_t, CoreError>> take_failures() { return std::move(failures_); }

  // Whether another connection has committed since the comparison, as far
  // as the open transaction can tell.
  bool rows_changed() const { return rows_changed_; }

 private:
  // Begins a transaction and, holding the lock, reads the version: our own
  // commits leave it as it was, another connection's move it on.
  Result<Transaction> begin() {
    auto begun = Transaction::begin_immediate(vault_.db());
    if (!begun) return begun;
    const std::optional<std::int64_t> now = data_version(vault_);
    if (!now || !compared_version_ || *now != *compared_version_) rows_changed_ = true;
    return begun;
  }

  Result<void> replay_alone() {
    tx_.reset();  // rolls the batch back
    auto pending = std::move(pending_);
    pending_.clear();
    for (auto& [item, write] : pending) {
      auto tx = begin();
      if (!tx) return std::unexpected(std::move(tx.error()));
      auto written = write();
      if (!written) {
        failures_.emplace_back(item, std::move(written.error()));
        continue;  // the guard rolls this one back
      }
      if (auto done = tx->commit(); !done) return done;
    }
    return {};
  }

  Vault& vault_;
  std::chrono::milliseconds budget_;
  std::optional<std::int64_t> compared_version_;
  bool rows_changed_ = false;
  std::optional<Transaction> tx_;
  Clock::time_point opened_;
  std::vector<std::pair<std::size_t, Write>> pending_;
  std::vector<std::pair<std::size_t, CoreError>> failures_;
};

// A bulk write touches far more pages than the connection's default cache
// of 2 MB holds; for the run the connection keeps up to 128 MB of them and
// checkpoints the WAL every 10,000 pages instead of 1,000, so a hot page is
// read and copied back less often (on 100,000 notes, together with the
// quarter-second batches, a full reindex ran 1.2 to 1.5 times as fast). Both
// settings belong to this connection only, nothing in the index file
// changes, and both are put back afterwards.
class BulkWriteSettings {
 public:
  explicit BulkWriteSettings(sqlite3* db) : db_(db) {
    cache_size_ = read_pragma("cache_size");
    autocheckpoint_ = read_pragma("wal_autocheckpoint");
    (void)exec(db_, "PRAGMA cache_size = -131072; PRAGMA wal_autocheckpoint = 10000");
  }
  ~BulkWriteSettings() {
    if (cache_size_) (void)exec(db_, "PRAGMA cache_size = " + std::to_string(*cache_size_));
    if (autocheckpoint_) (void)exec(db_, "PRAGMA wal_autocheckpoint = " + std::to_string(*autocheckpoint_));
  }
  BulkWriteSettings(const BulkWriteSettings&) = delete;
  BulkWriteSettings& operator=(const BulkWriteSettings&) = delete;

 private:
  std::optional<std::int64_t> read_pragma(std::string_view name) {
    auto stmt = prepare(db_, "PRAGMA " + std::string(name));
    if (!stmt) return std::nullopt;
    auto row = stmt->step();
    if (!row || !*row) return std::nullopt;
    return stmt->column_int64(0);
  }

  sqlite3* db_;
  std::optional<std::int64_t> cache_size_;
  std::optional<std::int64_t> autocheckpoint_;
};

}  // namespace

Result<ReindexOutcome> apply_reindex(Vault& vault, const VaultComparison& comparison,
                                     const ReindexOptions& options) {
  ReindexOutcome outcome;
  const BulkWriteSettings settings(vault.db());
  Batches batches(vault, options.batch_time, comparison.data_version);
  const std::size_t notes = comparison.to_index.size();
  const std::size_t total = 2 * notes + comparison.gone.size();
  std::size_t done = 0;
  auto step = [&] {
    ++done;
    if (options.progress) options.progress(done, total);
  };
  // What each note's rows write decided under the lock: the note as
  // compared (most often, kept only in `comparison`), the note as read
  // again, or nothing to write.
  std::vector<bool> in_step(notes, false);
  std::vector<std::optional<NoteChange>> reread(notes);
  auto decided = [&](std::size_t i) -> const NoteChange& { return reread[i] ? *reread[i] : comparison.to_index[i]; };
  auto file_unchanged = [](const NoteChange& change) {
    return change.stamp && file_stamp(change.note.path) == change.stamp;
  };
  auto path_of = [&](std::size_t i) { return stored_path(vault.root, comparison.to_index[i].note.path); };

  // Rows first, then deletions, then links: items 0..notes-1 are rows,
  // notes.. are deletions, and links reuse the note's own number. Every
  // write decides under the lock, from the file and the row as they are
  // then: another program may have written either since the comparison.
  for (std::size_t i = 0; i < notes; ++i) {
    auto write = [&, i]() -> Result<void> {
      const NoteChange& seen = comparison.to_index[i];
      in_step[i] = false;
      reread[i].reset();
      if (!batches.rows_changed() && file_unchanged(seen)) return write_note_rows(vault, seen.note);
      auto now = recheck_change(vault, seen, batches.rows_changed());
      if (!now) return std::unexpected(std::move(now.error()));
      if (!*now) {
        in_step[i] = true;
        return {};
      }
      reread[i] = std::move(**now);
      return write_note_rows(vault, reread[i]->note);
    };
    if (auto ok = batches.run(i, write); !ok) return std::unexpected(ok.error());
    step();
  }
  if (auto ok = batches.commit(); !ok) return std::unexpected(ok.error());
  std::set<std::size_t> refused;
  for (auto& [item, error] : batches.take_failures()) {
    refused.insert(item);
    outcome.failed.push_back({path_of(item), to_text(error)});
  }
  for (std::size_t i = 0; i < notes; ++i) {
    if (refused.contains(i)) continue;
    (in_step[i] ? outcome.in_step_by_then : outcome.indexed).push_back(comparison.to_index[i].note.frontmatter.id);
  }

  // A notes folder that went away during the run (a disk unmounted) is not
  // every note deleted.
  if (!comparison.gone.empty())
    if (auto problem = notes_folder_problem(vault.root)) return std::unexpected(CoreError::message(std::move(*problem)));
  std::vector<bool> deleted(comparison.gone.size(), false);
  for (std::size_t i = 0; i < comparison.gone.size(); ++i) {
    const std::string& id = comparison.gone[i];
    auto write = [&, i]() -> Result<void> {
      auto gone = still_gone(vault, id);
      if (!gone) return std::unexpected(std::move(gone.error()));
      deleted[i] = *gone;
      if (!*gone) return {};
      return write_note_deleted(vault, id);
    };
    if (auto ok = batches.run(notes + i, write); !ok) return std::unexpected(ok.error());
    step();
  }
  if (auto ok = batches.commit(); !ok) return std::unexpected(ok.error());
  std::set<std::size_t> kept;
  for (auto& [item, error] : batches.take_failures()) {
    kept.insert(item - notes);
    outcome.failed.push_back({comparison.gone[item - notes], to_text(error)});
  }
  for (std::size_t i = 0; i < comparison.gone.size(); ++i) {
    if (kept.contains(i)) continue;
    (deleted[i] ? outcome.deleted : outcome.in_step_by_then).push_back(comparison.gone[i]);
  }

  for (std::size_t i = 0; i < notes; ++i) {
    if (refused.contains(i) || in_step[i]) {
      step();
      continue;
    }
    // The links come from the file as it is now; one that no longer holds
    // the note, or whose row another program has since brought in step, is
    // left alone.
    auto write = [&, i]() -> Result<void> {
      const NoteChange& written = decided(i);
      if (file_unchanged(written)) return write_note_links(vault, written.note);
      auto now = recheck_change(vault, written, false);
      if (!now) return std::unexpected(std::move(now.error()));
      if (!*now) return {};
      return write_note_links(vault, (*now)->note);
    };
    if (auto ok = batches.run(i, write); !ok) return std::unexpected(ok.error());
    step();
  }
  if (auto ok = batches.commit(); !ok) return std::unexpected(ok.error());
  for (auto& [item, error] : batches.take_failures()) outcome.failed.push_back({path_of(item), to_text(error)});
  return outcome;
}

}  // namespace core
