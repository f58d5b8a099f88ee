#include "store/file_move.hpp"

#include "base/files.hpp"
#include "base/ids.hpp"

#include <cerrno>
#include <system_error>

namespace core {
namespace {

namespace fs = std::filesystem;

// Copies `from` to the new name `temp`: the link itself for a symbolic link.
Result<void> copy_entry(const fs::path& from, const fs::path& temp, bool is_link) {
  if (!is_link) return copy_file_synced(from, temp);
  std::error_code ec;
  fs::copy_symlink(from, temp, ec);
  if (ec) return std::unexpected(CoreError::io(ec.message()));
  return {};
}

}  // namespace

Result<void> copy_then_remove(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(from, ec);
  if (ec) return std::unexpected(CoreError::io(ec.message()));
  // A random tag: a move is not a save, and leaves no leftover to find again.
  const fs::path temp = temp_path_beside(to, new_note_id().substr(1, 10));
  if (auto copied = copy_entry(from, temp, fs::is_symlink(status)); !copied) {
    fs::remove(temp, ec);  // a leftover temporary is harmless, and there is no one to tell
    return copied;
  }
  if (int error = rename_no_replace(temp, to); error != 0) {
    fs::remove(temp, ec);
    return std::unexpected(io_error(error));
  }
  if (auto removed = remove_file(from); !removed) {
    fs::remove(to, ec);  // `from` stays the only copy
    return removed;
  }
  return {};
}

Result<void> move_file(const fs::path& from, const fs::path& to) {
  const int error = rename_no_replace(from, to);
  if (error == 0) return {};
  if (error == EXDEV) return copy_then_remove(from, to);
  return std::unexpected(io_error(error));
}

}  // namespace core
