#pragma once
// Finds a note file by name anywhere under a vault's `notes` folder, for ids
// the index does not place (files written by hand).
//
// The folders below `notes` are remembered in memory, process-wide, with the
// modification time and link count each had when it was listed, so a search
// costs a few file-status calls per folder instead of a listing of every
// file in the tree:
// - a folder whose time is unchanged is not listed again (adding, removing
//   or renaming a subfolder changes its parent's time); one modified less
//   than two seconds before it was listed is listed again on the next
//   search, since a change within the same clock tick would leave its time
//   unchanged;
// - a folder whose time moved because files came or went, on a file system
//   that counts a folder's subfolders in its link count, is not listed
//   again while that count is unchanged and every remembered subfolder is
//   still there (the same count with the same names is the same set).
// Files themselves are never remembered: each search asks for `<id>.md` in
// every folder, so a file placed or removed by hand is seen at once.

#include "base/error.hpp"

#include <filesystem>
#include <optional>
#include <string_view>

namespace core {

// The first `<id>.md` (an entry of any kind) found depth-first from
// `notes_dir`: a folder's own entry before its subfolders, subfolders in
// listing order, links to folders not followed. nullopt when there is none,
// when `notes_dir` is not a folder, or for an unsafe id. Io when a folder
// cannot be listed.
[[nodiscard]] Result<std::optional<std::filesystem::path>> find_note_file(const std::filesystem::path& notes_dir,
                                                                          std::string_view id);

}  // namespace core
