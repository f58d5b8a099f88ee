#pragma once
// Keeping the index in step with the note files while the server runs, for
// notes that editors, scripts and sync tools write: at the start of a call,
// what changed in `notes/` since the last one is taken in through the same
// writes and under the same rules as `reindex` (sync/reindex.hpp), so files
// it leaves alone (unreadable, without frontmatter, an id held twice) are
// left alone here too.
//
// The first call walks `notes/` and reads only the files whose stamp
// (size, times, device and inode) differs from what the server last saw
// (sync/seen_files.hpp). Later calls look only where the folder watcher
// (base/folder_watch.hpp) noticed something; its notices are hints, and
// every path they name is looked at again. Without a watcher, or once one
// cannot watch a folder, calls walk instead, at most once every few seconds.
//
// Following never makes a call wait or fail: while another program holds
// the index's write lock, or anything else goes wrong, the index stays as
// it is and the changes wait for a later call.

#include "base/folder_watch.hpp"
#include "sync/reindex.hpp"

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <set>
#include <string>

namespace core {

struct Vault;

struct FollowOptions {
  // Use the platform's folder watcher; false walks on every call that may.
  bool watch = true;
  // The least time between two walks that no notice asked for.
  std::chrono::milliseconds walk_every{5000};
  // More noticed entries than this at once are taken in by one walk.
  std::size_t most_entries = 256;
};

// What one call's following did.
struct FollowStep {
  bool walked = false;    // all of `notes/` was walked
  bool deferred = false;  // the changes wait for a later call (the write lock was held, say)
  std::size_t looked_at = 0;  // files whose stamp was compared
  std::size_t read = 0;       // files read
  ReindexOutcome outcome;     // what was written
};

class VaultFollower {
 public:
  using Clock = std::chrono::steady_clock;

  explicit VaultFollower(FollowOptions options = {}) : options_(options) {}

  // Brings the index of `vault` (always the same vault, kept open) in step
  // with what changed in its notes since the last call. Never fails.
  FollowStep follow(Vault& vault, Clock::time_point now = Clock::now());

  // How the vault is followed, for a person: "inotify, 12 folders", or
  // "walking notes/ at most every 5 s: <why there is no watch>".
  std::string how() const;

 private:
  struct Looked;
  void start(Vault& vault);
  void give_up_watching(std::string why);
  Looked look(Vault& vault, bool walk);
  bool take_in(Vault& vault, Looked& looked, FollowStep& step);

  FollowOptions options_;
  bool started_ = false;
  std::optional<std::string> off_;  // why nothing is followed at all
  FolderWatch watch_;
  std::optional<std::string> no_watch_;  // why calls walk instead of watching
  bool walk_needed_ = true;
  std::optional<Clock::time_point> last_walk_;
  std::set<std::filesystem::path> pending_;  // noticed, not yet taken in
  std::string told_;  // the `how` last written for doctor
  bool rows_checked_ = false;  // the index's live rows were checked against a whole walk
};

}  // namespace core
