#pragma once
// Bringing the index in step with the note files, through the same writes
// as a save (index/indexer), in short transactions so that other programs
// sharing the index can write between them. Never writes a note file.

#include "base/error.hpp"
#include "sync/vault_compare.hpp"

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace core {

struct ReindexOptions {
  // A transaction is committed once it has been open this long, so the
  // write lock is held for about this long at a time. Longer batches write
  // faster (fewer, larger full-text segments to merge); a quarter second
  // still lets another program's save through within it.
  std::chrono::milliseconds batch_time{250};
  // Called after each note or row is written, with the steps done so far
  // and the total (rows, deletions and links of every note).
  std::function<void(std::size_t done, std::size_t total)> progress;
};

struct ReindexOutcome {
  std::vector<std::string> indexed;  // ids, in the order of the comparison
  std::vector<std::string> deleted;  // ids marked deleted
  // Ids the comparison found out of step that were in step once the lock
  // was held (another program wrote them, or brought a gone note back, or
  // the file no longer holds the id): nothing was written for them.
  std::vector<std::string> in_step_by_then;
  std::vector<FileProblem> failed;   // writes the index refused: the note's path, or the id of a row to delete
};

// Writes what `comparison` found: first the note row and full-text row of
// every note in `to_index`, then marks every `gone` row deleted, then writes
// the links of every note indexed, so a title link resolves to a note
// written later in the same run and never to one just marked deleted.
// Nothing is written from the comparison alone: each write, holding the
// write lock, looks again at the file (its stamp) and, when another
// connection has committed since the comparison, at the row, and writes
// what they hold then (recheck_change, still_gone). Fails with Message,
// before any deletion, when `notes/` can no longer be walked. A
// write the index refuses (say the note's path is held by another id's
// row) is rolled back alone and reported in `failed`; the other writes of
// its batch are made again, each in a transaction of its own. Fails with Database when a
// transaction cannot be begun or committed; what was committed stays.
[[nodiscard]] Result<ReindexOutcome> apply_reindex(Vault& vault, const VaultComparison& comparison,
                                                   const ReindexOptions& options = {});

}  // namespace core
