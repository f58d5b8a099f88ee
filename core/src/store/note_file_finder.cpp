#include "store/note_file_finder.hpp"

#include "store/note_paths.hpp"

#include <dirent.h>
#include <sys/stat.h>

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

// A folder as last listed: which file it was, its modification time then,
// when it was listed, and its subfolders.
struct Listed {
  dev_t device = 0;
  ino_t inode = 0;
  timespec modified{};
  std::time_t listed_at = 0;
  std::vector<std::string> subfolders;
};

bool same_time(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

class FolderCache {
 public:
  // The subfolders of `dir`, whose status is `st`: remembered ones while the
  // folder is unchanged and was listed well after its last change.
  Result<std::vector<std::string>> subfolders(const fs::path& dir, const struct stat& st) {
    const std::time_t now = std::time(nullptr);
    std::lock_guard lock(mutex_);
    auto it = folders_.find(dir.native());
    if (it != folders_.end() && it->second.device == st.st_dev && it->second.inode == st.st_ino &&
        same_time(it->second.modified, st.st_mtim) && st.st_mtim.tv_sec + kSameTickSeconds <= it->second.listed_at)
      return it->second.subfolders;
    auto names = subdirectories(dir);
    if (!names) {
      if (it != folders_.end()) folders_.erase(it);
      return names;
    }
    folders_[dir.native()] = Listed{st.st_dev, st.st_ino, st.st_mtim, now, *names};
    return names;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, Listed> folders_;
};

FolderCache& cache() {
  static FolderCache instance;
  return instance;
}

bool entry_exists(const fs::path& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

Result<std::optional<fs::path>> search(const fs::path& dir, const std::string& file_name, bool follow) {
  struct stat st;
  if ((follow ? stat(dir.c_str(), &st) : lstat(dir.c_str(), &st)) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
  if (fs::path direct = dir / file_name; entry_exists(direct)) return direct;
  auto names = cache().subfolders(dir, st);
  if (!names) return std::unexpected(std::move(names.error()));
  for (const std::string& name : *names) {
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
