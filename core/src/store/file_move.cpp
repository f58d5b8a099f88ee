#include "store/file_move.hpp"

#include "base/files.hpp"
#include "base/ids.hpp"

#include <cerrno>
#include <string>
#include <system_error>

namespace core {
namespace {

namespace fs = std::filesystem;

// Copies the regular file `from` to the new file `temp`, flushed to disk.
Result<void> copy_file_synced(const fs::path& from, const fs::path& temp) {
  auto in = open_for_reading(from);
  if (!in) return std::unexpected(io_error(in.error()));
  const auto info = file_status(in->get());
  if (!info) return std::unexpected(io_error(info.error()));
  auto out = create_new_file(temp, info->mode);
  if (!out) return std::unexpected(io_error(out.error()));
  char buffer[65536];
  for (;;) {
    const auto n = read_some(in->get(), buffer, sizeof buffer);
    if (!n) return std::unexpected(io_error(n.error()));
    if (*n == 0) break;
    if (auto written = write_all(out->get(), std::string_view(buffer, *n)); !written) return written;
  }
  if (auto flushed = flush_file(out->get()); !flushed) return flushed;
  return out->close();
}

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
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "." + string.
  std::string temp_name = ".";
  temp_name += path_utf8(to.filename()).substr(0, 200);
  temp_name += '.';
  temp_name += new_note_id().substr(1, 10);
  temp_name += ".tmp";
  const fs::path temp = to.parent_path() / utf8_path(temp_name);
  if (auto copied = copy_entry(from, temp, fs::is_symlink(status)); !copied) {
    fs::remove(temp, ec);  // a leftover temporary is harmless, and there is no one to tell
    return copied;
  }
  if (int error = rename_no_replace(temp, to); error != 0) {
    fs::remove(temp, ec);
    return std::unexpected(io_error(error));
  }
  if (const int error = remove_file(from); error != 0) {
    fs::remove(to, ec);  // `from` stays the only copy
    return std::unexpected(io_error(error));
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
