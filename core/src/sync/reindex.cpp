#include "sync/reindex.hpp"

#include "index/index_db.hpp"
#include "index/indexer.hpp"
#include "index/sqlite.hpp"

#include <optional>
#include <set>

namespace core {
namespace {

using Clock = std::chrono::steady_clock;

// Groups writes into transactions that each stay open about `budget`.
class Batches {
 public:
  Batches(const Vault& vault, std::chrono::milliseconds budget) : vault_(vault), budget_(budget) {}

  // Runs `write` in the current transaction, beginning one when none is
  // open, inside a savepoint so that a failing write undoes only itself.
  // The write's own failure is returned; a failure to begin or commit ends
  // the run and is returned through `fatal`.
  template <class Write>
  Result<void> run(Write write, std::optional<CoreError>& fatal) {
    if (!tx_) {
      auto begun = Transaction::begin_immediate(vault_.db());
      if (!begun) {
        fatal = std::move(begun.error());
        return {};
      }
      tx_.emplace(std::move(*begun));
      opened_ = Clock::now();
    }
    if (auto mark = exec(vault_.db(), "SAVEPOINT note"); !mark) {
      fatal = std::move(mark.error());
      return {};
    }
    Result<void> written = write();
    if (!written) (void)exec(vault_.db(), "ROLLBACK TO note");
    (void)exec(vault_.db(), "RELEASE note");
    if (Clock::now() - opened_ >= budget_) {
      if (auto done = commit(); !done) fatal = std::move(done.error());
    }
    return written;
  }

  Result<void> commit() {
    if (!tx_) return {};
    auto done = tx_->commit();
    tx_.reset();
    return done;
  }

 private:
  const Vault& vault_;
  std::chrono::milliseconds budget_;
  std::optional<Transaction> tx_;
  Clock::time_point opened_;
};

}  // namespace

Result<ReindexOutcome> apply_reindex(const Vault& vault, const VaultComparison& comparison,
                                     const ReindexOptions& options) {
  ReindexOutcome outcome;
  Batches batches(vault, options.batch_time);
  std::optional<CoreError> fatal;
  const std::size_t total = 2 * comparison.to_index.size() + comparison.gone.size();
  std::size_t done = 0;
  auto step = [&] {
    ++done;
    if (options.progress) options.progress(done, total);
  };

  std::set<std::size_t> refused;
  for (std::size_t i = 0; i < comparison.to_index.size() && !fatal; ++i) {
    const Note& note = comparison.to_index[i].note;
    auto written = batches.run([&] { return write_note_rows(vault, note); }, fatal);
    if (!written) {
      refused.insert(i);
      outcome.failed.push_back({stored_path(vault.root, note.path), to_text(written.error())});
    } else if (!fatal) {
      outcome.indexed.push_back(note.frontmatter.id);
    }
    step();
  }
  for (std::size_t i = 0; i < comparison.gone.size() && !fatal; ++i) {
    const std::string& id = comparison.gone[i];
    if (batches.run([&] { return write_note_deleted(vault, id); }, fatal) && !fatal) outcome.deleted.push_back(id);
    step();
  }
  for (std::size_t i = 0; i < comparison.to_index.size() && !fatal; ++i) {
    if (refused.contains(i)) continue;
    const Note& note = comparison.to_index[i].note;
    auto written = batches.run([&] { return write_note_links(vault, note); }, fatal);
    if (!written) outcome.failed.push_back({stored_path(vault.root, note.path), to_text(written.error())});
    step();
  }
  if (fatal) return std::unexpected(std::move(*fatal));
  if (auto committed = batches.commit(); !committed) return std::unexpected(std::move(committed.error()));
  return outcome;
}

}  // namespace core
