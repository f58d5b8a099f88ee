#pragma once
// Moving one file (a regular file or a symbolic link) to a new name that
// must not exist yet, within a file system or across two.

#include "base/error.hpp"

#include <filesystem>

namespace core {

// Moves `from` to `to` without ever replacing an existing `to`: a rename,
// or, when the two lie on different file systems, copy_then_remove. A
// symbolic link is moved as the link, not what it points to.
// Fails with Io ("File exists" when `to` exists); `from` is then unchanged
// and no partial `to` is left.
[[nodiscard]] Result<void> move_file(const std::filesystem::path& from, const std::filesystem::path& to);

// The cross-file-system half of move_file: copies `from` (its bytes and
// permission bits, or the link itself) to a temporary name beside `to`,
// flushes it to disk, renames it to `to`, then removes `from`.
// Fails with Io as move_file does; when `from` cannot be removed after the
// copy, the copy is removed again, so `from` is then the only file.
[[nodiscard]] Result<void> copy_then_remove(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace core
