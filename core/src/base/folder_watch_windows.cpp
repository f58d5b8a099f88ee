#include "base/folder_watch.hpp"

#ifdef _WIN32  // folder_watch.cpp holds the other platforms

// No watcher on Windows yet: callers walk the folders instead.

namespace core {

struct FolderWatch::State {};

FolderWatch::FolderWatch() = default;
FolderWatch::~FolderWatch() = default;
FolderWatch::FolderWatch(FolderWatch&&) noexcept = default;
FolderWatch& FolderWatch::operator=(FolderWatch&&) noexcept = default;

std::optional<std::string> FolderWatch::start() { return std::string("this platform has no folder watcher"); }
std::optional<std::string> FolderWatch::add(const std::filesystem::path&) {
  return std::string("this platform has no folder watcher");
}
WatchNews FolderWatch::take() { return {}; }
std::size_t FolderWatch::folders() const { return 0; }
const char* FolderWatch::mechanism() { return "none"; }

}  // namespace core

#endif  // _WIN32
