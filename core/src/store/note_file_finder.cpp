#include "store/note_file_finder.hpp"

#include "base/files.hpp"
#include "store/note_paths.hpp"


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

// The names of the directories in `dir`, in listing order; links to
// directories are left out, so a link cycle cannot trap a walk.
Result<std::vector<std::string>> subdirectories(const fs::path& dir) {
  auto names = list_subfolders(dir);
  if (!names) return std::unexpected(io_error(names.error()));
  return std::move(*names);
}

// A folder as last listed: which file it was, its modification time and
// link count then, when it was listed, and its subfolders.
struct Listed {
  std::uintmax_t device = 0;
  std::uintmax_t inode = 0;
  std::int64_t modified_ns = 0;
  std::uintmax_t links = 0;
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
  Result<Subfolders> subfolders(const fs::path& dir, const FileStatus& st, bool relist) {
    const std::time_t now = std::time(nullptr);
    std::lock_guard lock(mutex_);
    auto it = folders_.find(dir.native());
    if (!relist && it != folders_.end() && it->second.device == st.device && it->second.inode == st.inode) {
      const Listed& known = it->second;
      const std::time_t modified_s = static_cast<std::time_t>(st.modified_ns / 1'000'000'000);
      if (known.modified_ns == st.modified_ns && known.links == st.links &&
          modified_s + kSameTickSeconds <= known.listed_at)
        return Subfolders{known.subfolders, false};
      if (known.links_count_subfolders && known.links == st.links) return Subfolders{known.subfolders, true};
    }
    auto names = subdirectories(dir);
    if (!names) {
      if (it != folders_.end()) folders_.erase(it);
      return std::unexpected(std::move(names.error()));
    }
    const bool counted = st.links == 2 + names->size();
    folders_[dir.native()] = Listed{st.device, st.inode, st.modified_ns, st.links, counted, now, *names};
    return Subfolders{std::move(*names), false};
  }

 private:
  std::mutex mutex_;
  std::map<fs::path::string_type, Listed> folders_;
};

FolderCache& cache() {
  static FolderCache instance;
  return instance;
}

bool is_real_folder(const fs::path& path) {
  const auto st = file_status(path, false);
  return st && st->kind == EntryKind::Folder;
}

Result<std::optional<fs::path>> search(const fs::path& dir, const fs::path& file_name, bool follow) {
  const auto status = file_status(dir, follow);
  if (!status || status->kind != EntryKind::Folder) return std::nullopt;
  const FileStatus& st = *status;
  if (fs::path direct = dir / file_name; entry_exists(direct)) return direct;
  auto listed = cache().subfolders(dir, st, false);
  if (!listed) return std::unexpected(std::move(listed.error()));
  if (listed->unverified &&
      !std::all_of(listed->names.begin(), listed->names.end(), [&](const std::string& name) { return is_real_folder(dir / utf8_path(name)); })) {
    listed = cache().subfolders(dir, st, true);
    if (!listed) return std::unexpected(std::move(listed.error()));
  }
  for (const std::string& name : listed->names) {
    auto found = search(dir / utf8_path(name), file_name, false);
    if (!found || *found) return found;
  }
  return std::nullopt;
}

}  // namespace

Result<std::optional<fs::path>> find_note_file(const fs::path& notes_dir, std::string_view id) {
  if (!is_safe_note_id(id)) return std::nullopt;
  return search(notes_dir, utf8_path(std::string(id) + ".md"), true);
}

}  // namespace core
