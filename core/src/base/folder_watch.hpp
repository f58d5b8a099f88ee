#pragma once
// Change notices for a set of folders, taken without blocking: which
// entries of which watched folders may have changed since the last take.
// A notice is a hint, never the truth: its reader looks at the path again.
// One folder is watched at a time, not its subtree, so folders reached
// through links are watched like any other; the caller adds the folders it
// walks and the ones that appear.
//
// Linux watches with inotify (one watch per folder); Windows with
// ReadDirectoryChangesW; other platforms have no watcher, and `start`
// says so, so their callers walk instead.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace core {

struct WatchNews {
  // Entries (files or folders) of a watched folder that were created,
  // written, removed, renamed away or renamed in, each once, in no order.
  std::vector<std::filesystem::path> entries;
  // Watched folders that were removed or renamed away: nothing more comes
  // from them, and what was below them is to be looked at again.
  std::vector<std::filesystem::path> folders_gone;
  // Notices were lost (the queue overflowed, or the watcher failed): only a
  // walk of every folder tells what changed. The watch goes on.
  bool lost = false;
};

class FolderWatch {
 public:
  FolderWatch();
  ~FolderWatch();
  FolderWatch(FolderWatch&&) noexcept;
  FolderWatch& operator=(FolderWatch&&) noexcept;

  // Sets the watcher up. nullopt on success; otherwise why there is none,
  // for a person ("this platform has no folder watcher", "inotify: Too
  // many open files").
  [[nodiscard]] std::optional<std::string> start();

  // Watches the entries of `folder` (a link to a folder is followed). A
  // folder already watched (by any path to it) is not watched twice.
  // nullopt on success; otherwise why not, for a person: "the watch limit
  // is reached (fs.inotify.max_user_watches)", or "<folder> is on a file
  // system that gives no change notices (nfs)" for a remote or user-space
  // file system, whose changes made elsewhere would never be told.
  [[nodiscard]] std::optional<std::string> add(const std::filesystem::path& folder);

  // Everything noticed since the last take, without waiting.
  WatchNews take();

  // How many folders are watched.
  std::size_t folders() const;

  // The mechanism, for a person: "inotify", "ReadDirectoryChangesW".
  static const char* mechanism();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace core
