#pragma once
// The files one change to a vault touches, made final together with the
// index transaction that goes with them, so that a change that fails leaves
// the files and the index both as they were.
//
// A change runs in this order, all under the index's write lock:
// 1. prepare every new note file beside its target (write() writes and
//    flushes it; nothing is in place yet) and run every index statement;
// 2. install(): put the files in place (each replaced file kept aside);
// 3. commit the index transaction;
// 4. finish(): drop the kept files and remove the files moves left.
// Should step 2 or 3 fail, undo() (or the destructor) takes back every step
// made, newest first. The index's own failures (a full disk, a read-only
// index, a lock) so come before any note file changes.

#include "base/error.hpp"
#include "note/note.hpp"
#include "note/note_file.hpp"

#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

namespace core {

class Transaction;

class FileChanges {
 public:
  FileChanges() = default;
  FileChanges(const FileChanges&) = delete;
  FileChanges& operator=(const FileChanges&) = delete;
  ~FileChanges();

  // Prepares `note`'s file as NoteFileWrite::prepare does; fails as it does,
  // with nothing in place.
  [[nodiscard]] Result<void> write(const Note& note);

  // A step made already (a file moved into the trash): `undo` takes it back
  // if the change fails; `final` runs once it has committed.
  void made(std::function<Result<void>()> undo, std::function<void()> final = {});

  // Once the change is final, removes `path` (the file a move left behind),
  // unless it is the same file as `kept` under another name.
  void remove_when_final(std::filesystem::path path, std::filesystem::path kept);

  // Puts every prepared file in place, in order. Fails with the first
  // failure's Io error, after taking back those put in place before it.
  [[nodiscard]] Result<void> install();

  // Takes back every step made, newest first. Fails with the first step
  // that could not be taken back (the others are still tried).
  [[nodiscard]] Result<void> undo();

  // The change has committed: kept files go, removals are made. A removal
  // that fails leaves a second copy, never a lost note.
  void finish();

 private:
  struct Step {
    std::optional<NoteFileWrite> write;
    std::function<Result<void>()> undo;
    std::function<void()> final;
    bool made = false;
  };
  std::vector<Step> steps_;
  std::vector<std::pair<std::filesystem::path, std::filesystem::path>> removals_;
};

// Steps 2 to 4 above: installs `files`, commits `tx`, finishes `files`. On
// a failure the files are taken back and the transaction rolls back; the
// error is the install's or the commit's.
[[nodiscard]] Result<void> commit_change(Transaction& tx, FileChanges& files);

}  // namespace core
