#include "base/folder_watch.hpp"

#ifndef _WIN32  // folder_watch_windows.cpp holds the Windows side

#include "base/files.hpp"

#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <utility>

#ifdef __linux__
#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>
#endif

namespace core {

#ifdef __linux__

namespace {

namespace fs = std::filesystem;

// What a watch asks to be told: every way an entry of the folder can come,
// change or go, and the folder itself going. A file still open by another
// process that was unlinked does not count as changed again (IN_EXCL_UNLINK).
constexpr std::uint32_t kMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO |
                                IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_EXCL_UNLINK;

// File systems whose changes made on another machine, or by a user-space
// server, give no inotify notice here.
const char* remote_file_system(const fs::path& folder) {
  struct statfs info {};
  if (::statfs(folder.c_str(), &info) != 0) return nullptr;
  switch (static_cast<unsigned long>(info.f_type)) {
    case 0x6969: return "nfs";
    case 0x517B: return "smb";
    case 0xFF534D42: return "cifs";
    case 0xFE534D42: return "smb2";
    case 0x65735546: return "fuse";
    case 0x01021997: return "9p";
    case 0x5346414F: return "afs";
    case 0x00C36400: return "ceph";
    case 0x73757245: return "coda";
    case 0x564C: return "ncp";
    default: return nullptr;
  }
}

}  // namespace

struct FolderWatch::State {
  UniqueFd fd;
  std::map<int, fs::path> folders;  // by watch descriptor
};

std::optional<std::string> FolderWatch::start() {
  const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return std::string("inotify: ") + std::strerror(errno);
  state_ = std::make_unique<State>();
  state_->fd = UniqueFd(fd);
  return std::nullopt;
}

std::optional<std::string> FolderWatch::add(const fs::path& folder) {
  if (!state_) return std::string("the folder watcher is not started");
  if (const char* kind = remote_file_system(folder))
    return path_utf8(folder) + " is on a file system that gives no change notices (" + kind + ")";
  // A folder already watched by another path gives the same descriptor:
  // the first path it was reached by stays its name.
  const int wd = ::inotify_add_watch(state_->fd.get(), folder.c_str(), kMask);
  if (wd < 0) {
    if (errno == ENOSPC) return std::string("the watch limit is reached (fs.inotify.max_user_watches)");
    return path_utf8(folder) + " cannot be watched: " + std::strerror(errno);
  }
  state_->folders.try_emplace(wd, folder);
  return std::nullopt;
}

WatchNews FolderWatch::take() {
  WatchNews news;
  if (!state_) return news;
  std::set<fs::path> entries, gone;
  alignas(inotify_event) char buffer[64 * 1024];
  for (;;) {
    const ssize_t got = ::read(state_->fd.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) news.lost = true;
      break;
    }
    if (got == 0) break;
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & IN_Q_OVERFLOW) {
        news.lost = true;
        continue;
      }
      const auto folder = state_->folders.find(event->wd);
      if (folder == state_->folders.end()) continue;
      if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
        gone.insert(folder->second);
        // A folder renamed away keeps its watch under the old name: drop
        // it, so the folder is watched again by the name it now has.
        if (event->mask & IN_MOVE_SELF) ::inotify_rm_watch(state_->fd.get(), event->wd);
        continue;
      }
      if (event->mask & IN_IGNORED) {
        state_->folders.erase(folder);
        continue;
      }
      if (event->len > 0) entries.insert(folder->second / fs::path(std::string(event->name)));
    }
  }
  news.entries.assign(entries.begin(), entries.end());
  news.folders_gone.assign(gone.begin(), gone.end());
  return news;
}

std::size_t FolderWatch::folders() const { return state_ ? state_->folders.size() : 0; }

const char* FolderWatch::mechanism() { return "inotify"; }

#else  // neither Linux nor Windows: no watcher; callers walk

struct FolderWatch::State {};

std::optional<std::string> FolderWatch::start() { return std::string("this platform has no folder watcher"); }
std::optional<std::string> FolderWatch::add(const std::filesystem::path&) {
  return std::string("this platform has no folder watcher");
}
WatchNews FolderWatch::take() { return {}; }
std::size_t FolderWatch::folders() const { return 0; }
const char* FolderWatch::mechanism() { return "none"; }

#endif

FolderWatch::FolderWatch() = default;
FolderWatch::~FolderWatch() = default;
FolderWatch::FolderWatch(FolderWatch&&) noexcept = default;
FolderWatch& FolderWatch::operator=(FolderWatch&&) noexcept = default;

}  // namespace core

#endif  // !_WIN32
