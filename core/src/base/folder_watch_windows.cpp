#include "base/folder_watch.hpp"

#ifdef _WIN32  // folder_watch.cpp holds the other platforms

#include "base/files.hpp"
#include "base/files_windows.hpp"

#include <windows.h>

#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string_view>
#include <vector>

// One directory handle per watched folder, each with a ReadDirectoryChangesW
// read in flight (overlapped, not of the subtree). take() asks each read,
// without waiting, whether it has completed, reads its notices and starts
// the next one.
//
// Windows tells a folder nothing about itself, so a watched folder that
// goes is found two ways: through the notice of its name in its watched
// parent, or, for a folder whose parent is not watched (the top of the
// walk, a folder reached through a link), by looking on each take whether
// its path still leads to it. Either way its path is then looked at, and
// when it no longer leads to the same folder (volume serial and file
// index), the folder is gone and its handle closed.
//
// A handle holds its folder's place: Windows refuses to rename a folder
// while a folder below it is open, so while a folder is watched, the
// folders above it cannot be renamed (removing them, or renaming the
// watched folder itself, goes on: the handle shares delete access).

namespace core {
namespace {

namespace fs = std::filesystem;
using win::Handle;

// Every way an entry can come, change or go.
constexpr DWORD kChanges = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                           FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SIZE |
                           FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_CREATION |
                           FILE_NOTIFY_CHANGE_SECURITY;

// The notices of one folder between two takes: some hundreds of names.
// More overflow it, which the caller learns as `lost` (and walks). Each
// watched folder has one, and the system keeps one of the same size, so a
// vault of a thousand folders holds 32 MiB at 16 KiB each; 64 KiB is also
// the most a network share accepts.
constexpr DWORD kNoticeBytes = 16 * 1024;

struct Identity {
  std::uintmax_t volume = 0;
  std::uintmax_t index = 0;
  auto operator<=>(const Identity&) const = default;
};

std::optional<Identity> identity_of(const fs::path& path) {
  const auto status = file_status(path, true);
  if (!status || status->kind != EntryKind::Folder) return std::nullopt;
  return Identity{status->device, status->inode};
}

std::string reason(DWORD error) { return std::strerror(win::errno_of(error)); }

// One watched folder and its read in flight. The system writes into
// `overlapped` and `notices` until the read completes or is cancelled, so a
// Watch never moves (it lives in a map node) and, going, waits for its read
// to end before those are freed.
struct Watch {
  fs::path folder;
  Handle dir;
  bool reading = false;
  OVERLAPPED overlapped{};
  alignas(DWORD) unsigned char notices[kNoticeBytes];

  Watch(fs::path path, HANDLE handle) : folder(std::move(path)), dir(handle) {}
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;
  ~Watch() {
    if (!reading) return;
    DWORD bytes = 0;
    if (CancelIoEx(dir.get(), &overlapped) || GetLastError() != ERROR_NOT_FOUND)
      (void)GetOverlappedResult(dir.get(), &overlapped, &bytes, TRUE);
  }

  // Whether the folder was removed while this handle holds it: Windows
  // keeps a removed folder's name, and tells its parent nothing, until the
  // last handle to it is closed.
  bool removed() const {
    FILE_STANDARD_INFO info{};
    return GetFileInformationByHandleEx(dir.get(), FileStandardInfo, &info, sizeof info) && info.DeletePending;
  }

  // Starts the next read: 0, or the Windows error.
  DWORD read_next() {
    overlapped = OVERLAPPED{};
    if (!ReadDirectoryChangesW(dir.get(), notices, sizeof notices, FALSE, kChanges, nullptr, &overlapped, nullptr))
      return GetLastError();
    reading = true;
    return 0;
  }

  // The names the completed read of `bytes` brought, below `folder`.
  void names(DWORD bytes, std::set<fs::path>& into) const {
    constexpr DWORD header = offsetof(FILE_NOTIFY_INFORMATION, FileName);
    for (DWORD at = 0; at + header <= bytes;) {
      const auto* notice = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(notices + at);
      if (at + header + notice->FileNameLength > bytes) break;
      const std::wstring_view name(notice->FileName, notice->FileNameLength / sizeof(WCHAR));
      if (!name.empty()) into.insert(folder / fs::path(name));
      if (notice->NextEntryOffset == 0) break;
      at += notice->NextEntryOffset;
    }
  }
};

// What a read's completion said.
enum class Outcome { Pending, Notices, Overflow, Failed };

}  // namespace

struct FolderWatch::State {
  std::map<Identity, Watch> watches;
  std::map<fs::path, Identity> by_path;

  void drop(const fs::path& path) {
    const auto named = by_path.find(path);
    if (named == by_path.end()) return;
    watches.erase(named->second);
    by_path.erase(named);
  }
};

std::optional<std::string> FolderWatch::start() {
  state_ = std::make_unique<State>();
  return std::nullopt;
}

std::optional<std::string> FolderWatch::add(const fs::path& folder) {
  if (!state_) return std::string("the folder watcher is not started");
  // Sharing delete access, so that the folder may still be renamed or
  // removed while it is watched.
  Handle dir(CreateFileW(win::wide(folder).c_str(), FILE_LIST_DIRECTORY,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
  if (!dir) return path_utf8(folder) + " cannot be watched: " + reason(GetLastError());
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(dir.get(), &info))
    return path_utf8(folder) + " cannot be watched: " + reason(GetLastError());
  if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return path_utf8(folder) + " cannot be watched: " + std::strerror(ENOTDIR);
  const Identity id{info.dwVolumeSerialNumber,
                    (static_cast<std::uintmax_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  // The first path a folder was reached by stays its name.
  if (state_->watches.contains(id)) return std::nullopt;

  const auto slot = state_->watches.try_emplace(id, folder, dir.release()).first;
  Watch& watch = slot->second;
  if (const DWORD error = watch.read_next(); error != 0) {
    state_->watches.erase(slot);
    // A file system that keeps no change notices (some network and
    // user-space ones) refuses the read itself. A share served by Windows
    // does give them, changes made elsewhere included, so it is not
    // refused up front as on Linux.
    if (error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED)
      return path_utf8(folder) + " is on a file system that gives no change notices";
    return path_utf8(folder) + " cannot be watched: " + reason(error);
  }
  state_->by_path.emplace(folder, id);
  return std::nullopt;
}

WatchNews FolderWatch::take() {
  WatchNews news;
  if (!state_) return news;
  std::set<fs::path> entries, gone;
  // Watched folders to look at: the tops always, the others when a read of
  // theirs fails or their parent tells of their name.
  std::set<fs::path> suspects;
  for (auto& [id, watch] : state_->watches) {
    if (!state_->by_path.contains(watch.folder.parent_path()) || watch.removed()) suspects.insert(watch.folder);
    Outcome outcome = Outcome::Pending;
    DWORD bytes = 0;
    if (GetOverlappedResult(watch.dir.get(), &watch.overlapped, &bytes, FALSE)) {
      outcome = bytes == 0 ? Outcome::Overflow : Outcome::Notices;
    } else {
      const DWORD error = GetLastError();
      if (error != ERROR_IO_INCOMPLETE) outcome = error == ERROR_NOTIFY_ENUM_DIR ? Outcome::Overflow : Outcome::Failed;
    }
    if (outcome == Outcome::Pending) continue;
    watch.reading = false;
    if (outcome == Outcome::Notices) watch.names(bytes, entries);
    if (outcome == Outcome::Overflow) news.lost = true;
    if (outcome == Outcome::Failed || watch.read_next() != 0) suspects.insert(watch.folder);
  }
  for (const fs::path& entry : entries)
    if (state_->by_path.contains(entry)) suspects.insert(entry);

  for (const fs::path& folder : suspects) {
    const auto named = state_->by_path.find(folder);
    if (named == state_->by_path.end()) continue;
    const bool there = identity_of(folder) == named->second && !state_->watches.at(named->second).removed();
    if (there && state_->watches.at(named->second).reading) continue;
    // Gone, or still there but its read cannot go on: either way nothing
    // more comes from it, and it is dropped so that it can be added again.
    if (there) news.lost = true;
    gone.insert(folder);
    state_->drop(folder);
  }
  news.entries.assign(entries.begin(), entries.end());
  news.folders_gone.assign(gone.begin(), gone.end());
  return news;
}

std::size_t FolderWatch::folders() const { return state_ ? state_->watches.size() : 0; }

const char* FolderWatch::mechanism() { return "ReadDirectoryChangesW"; }

FolderWatch::FolderWatch() = default;
FolderWatch::~FolderWatch() = default;
FolderWatch::FolderWatch(FolderWatch&&) noexcept = default;
FolderWatch& FolderWatch::operator=(FolderWatch&&) noexcept = default;

}  // namespace core

#endif  // _WIN32
