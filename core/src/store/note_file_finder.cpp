#include "store/note_file_finder.hpp"

#include "base/files.hpp"
#include "store/note_paths.hpp"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

namespace core {
namespace {

namespace fs = std::filesystem;

constexpr std::time_t kSameTickSeconds = 2;

struct CloseDir {
  void operator()(DIR* dir) const { closedir(dir); }
};

// The names of the directories in `dir`, in listing order; links to
// directories are left out, so a link cycle cannot trap a walk. Reads the
// entry types the listing carries instead of building a path per entry: a
// notes folder may hold a hundred thousand files.
Result<std::vector<std::string>> subdirectories(const fs::path& dir) {
  std::unique_ptr<DIR, CloseDir> listing(opendir(dir.c_str()));
  if (!listing) return std::unexpected(CoreError::io(std::generic_category().message(errno)));
  std::vector<std::string> names;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(listing.get());
    if (!entry) break;
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    bool is_dir = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN) {
      std::error_code ec;
      is_dir = fs::is_directory(fs::symlink_status(dir / name, ec));
    }
    if (is_dir) names.emplace_back(name);
  }
  if (errno != 0) return std::unexpected(CoreError::io(std::generic_category().message(errno)));
  return names;
}

// A folder as last listed: which file it was, its modification time and
// link count then, when it was listed, and its subfolders.
struct Listed {
  dev_t device = 0;
  ino_t inode = 0;
  timespec modified{};
  nlink_t links = 0;
  bool links_count_subfolders = false;  // links == 2 + subfolders.size() when listed
  std::time_t listed_at = 0;
  std::vector<std::string> subfolders;
};

// Subfolder names to search, and whether each must still be checked to be a
// folder before they can be trusted (see FolderCache::subfolders).
struct Subfolders {
  std::vector<std::string> names;
  bool unverified = false;
};

bool same_time(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

class FolderCache {
 public:
  // The subfolders of `dir`, whose status is `st`.
  // - Unchanged time and link count, listed well after that time: the
  //   remembered names.
  // - Time moved (a file came or went) but the same link count, on a file
  //   system where a folder's link count is 2 plus its subfolders: the
  //   remembered names, unverified. If each of them is still a folder, the
  //   folder holds the same number of subfolders with those names among
  //   them, hence exactly those. The caller checks and asks again with
  //   `relist` when one is not.
  // - Otherwise, or with `relist`: listed now.
  Result<Subfolders> subfolders(const fs::path& dir, const struct stat& st, bool relist) {
    const std::time_t now = std::time(nullptr);
    std::lock_guard lock(mutex_);
    auto it = folders_.find(dir.native());
    if (!relist && it != folders_.end() && it->second.device == st.st_dev && it->second.inode == st.st_ino) {
      const Listed& known = it->second;
      if (same_time(known.modified, st.st_mtim) && known.links == st.st_nlink &&
          st.st_mtim.tv_sec + kSameTickSeconds <= known.listed_at)
        return Subfolders{known.subfolders, false};
      if (known.links_count_subfolders && known.links == st.st_nlink) return Subfolders{known.subfolders, true};
    }
    auto names = subdirectories(dir);
    if (!names) {
      if (it != folders_.end()) folders_.erase(it);
      return std::unexpected(std::move(names.error()));
    }
    const bool counted = st.st_nlink == 2 + names->size();
    folders_[dir.native()] = Listed{st.st_dev, st.st_ino, st.st_mtim, st.st_nlink, counted, now, *names};
    return Subfolders{std::move(*names), false};
  }

 private:
  std::mutex mutex_;
  std::map<std::string, Listed> folders_;
};

FolderCache& cache() {
  static FolderCache instance;
  return instance;
}

bool is_real_folder(const fs::path& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

Result<std::optional<fs::path>> search(const fs::path& dir, const std::string& file_name, bool follow) {
  struct stat st;
  if ((follow ? stat(dir.c_str(), &st) : lstat(dir.c_str(), &st)) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
  if (fs::path direct = dir / file_name; entry_exists(direct)) return direct;
  auto listed = cache().subfolders(dir, st, false);
  if (!listed) return std::unexpected(std::move(listed.error()));
  if (listed->unverified &&
      !std::all_of(listed->names.begin(), listed->names.end(), [&](const std::string& name) { return is_real_folder(dir / name); })) {
    listed = cache().subfolders(dir, st, true);
    if (!listed) return std::unexpected(std::move(listed.error()));
  }
  for (const std::string& name : listed->names) {
    auto found = search(dir / name, file_name, false);
    if (!found || *found) return found;
  }
  return std::nullopt;
}

}  // namespace

Result<std::optional<fs::path>> find_note_file(const fs::path& notes_dir, std::string_view id) {
  if (!is_safe_note_id(id)) return std::nullopt;
  return search(notes_dir, std::string(id) + ".md", true);
}

}  // namespace core
