#include "base/files.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace core {
namespace {

std::string kind_of(mode_t mode) {
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "of an unknown kind";
}

#ifdef BT_FILE_FAULTS
std::function<int(FileCall, const std::filesystem::path&)>& fault_hook() {
  static std::function<int(FileCall, const std::filesystem::path&)> hook;
  return hook;
}

// The errno a test wants `call` on `path` to fail with, or 0.
int injected(FileCall call, const std::filesystem::path& path) {
  const auto& hook = fault_hook();
  return hook ? hook(call, path) : 0;
}
#else
constexpr int injected(FileCall, const std::filesystem::path&) { return 0; }
#endif

}  // namespace

#ifdef BT_FILE_FAULTS
void set_file_fault(std::function<int(FileCall, const std::filesystem::path&)> fault) {
  fault_hook() = std::move(fault);
}
#endif

CoreError io_error(int error_number) { return CoreError::io(std::generic_category().message(error_number)); }

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) ::close(fd_);
}

Result<void> UniqueFd::close() {
  const int fd = std::exchange(fd_, -1);
  if (fd >= 0 && ::close(fd) != 0) return std::unexpected(io_error(errno));
  return {};
}

Result<std::string> read_regular_file(const std::filesystem::path& path, std::size_t max_bytes) {
  UniqueFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!file) return std::unexpected(io_error(errno));
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) return std::unexpected(io_error(errno));
  if (S_ISDIR(info.st_mode)) return std::unexpected(io_error(EISDIR));
  if (!S_ISREG(info.st_mode)) return std::unexpected(CoreError::io("not a regular file (" + kind_of(info.st_mode) + ")"));
  const auto too_large = [&] {
    return CoreError::io("file is larger than " + std::to_string(max_bytes >> 20) + " MiB");
  };
  if (static_cast<std::uintmax_t>(info.st_size) > max_bytes) return std::unexpected(too_large());
  std::string text;
  text.reserve(static_cast<std::size_t>(info.st_size));
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::unexpected(io_error(errno));
    if (n == 0) return text;
    // The file may grow while it is read; the bound holds all the same.
    if (text.size() + static_cast<std::size_t>(n) > max_bytes) return std::unexpected(too_large());
    text.append(buffer, static_cast<std::size_t>(n));
  }
}

Result<void> write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::unexpected(io_error(errno));
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

Result<void> flush_file(int fd) {
  if (const int error = injected(FileCall::Flush, {})) return std::unexpected(io_error(error));
  // The file's size belongs to its data here: fdatasync writes it too.
  if (::fdatasync(fd) != 0) return std::unexpected(io_error(errno));
  return {};
}

Result<void> flush_folder(const std::filesystem::path& dir) {
  if (const int error = injected(FileCall::FlushFolder, dir)) return std::unexpected(io_error(error));
  UniqueFd folder(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder) return std::unexpected(io_error(errno));
  // Some file systems refuse to flush a folder (EINVAL); their renames are
  // as durable as they can make them.
  if (::fsync(folder.get()) != 0 && errno != EINVAL) return std::unexpected(io_error(errno));
  return {};
}

int rename_no_replace(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (const int error = injected(FileCall::Rename, to)) return error;
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
  if (entry_exists(to)) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

Result<void> rename_replacing(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (const int error = injected(FileCall::Rename, to)) return std::unexpected(io_error(error));
  if (::rename(from.c_str(), to.c_str()) != 0) return std::unexpected(io_error(errno));
  return {};
}

int link_file(const std::filesystem::path& existing, const std::filesystem::path& new_name) {
  if (const int error = injected(FileCall::Link, new_name)) return error;
  return ::link(existing.c_str(), new_name.c_str()) == 0 ? 0 : errno;
}

Result<void> remove_file(const std::filesystem::path& path) {
  if (const int error = injected(FileCall::Remove, path)) return std::unexpected(io_error(error));
  if (::unlink(path.c_str()) != 0) return std::unexpected(io_error(errno));
  return {};
}

bool entry_exists(const std::filesystem::path& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

namespace {

std::int64_t nanoseconds(const struct timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

}  // namespace

std::optional<FileStamp> file_stamp(const std::filesystem::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileStamp{static_cast<std::uintmax_t>(st.st_size), nanoseconds(st.st_mtim), nanoseconds(st.st_ctim),
                   static_cast<std::uintmax_t>(st.st_dev), static_cast<std::uintmax_t>(st.st_ino), S_ISDIR(st.st_mode)};
}

std::filesystem::path temp_path_beside(const std::filesystem::path& target, std::string_view tag) {
  constexpr std::size_t kNameKept = 200;
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "." + string.
  std::string name = ".";
  name += target.filename().string().substr(0, kNameKept);
  name += '.';
  name += tag;
  name += ".tmp";
  return target.parent_path() / name;
}

Result<bool> create_new_file(const std::filesystem::path& path, std::string_view text) {
  if (const int error = injected(FileCall::Create, path)) return std::unexpected(io_error(error));
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (!fd) {
    if (errno == EEXIST) return false;
    return std::unexpected(io_error(errno));
  }
  auto written = write_all(fd.get(), text);
  if (written) written = fd.close();
  if (!written) {
    (void)::unlink(path.c_str());
    return std::unexpected(std::move(written.error()));
  }
  return true;
}

namespace {

Result<void> copy_into(int in, int out) {
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::unexpected(io_error(errno));
    if (n == 0) return {};
    if (auto written = write_all(out, std::string_view(buffer, static_cast<std::size_t>(n))); !written) return written;
  }
}

}  // namespace

Result<void> copy_file_synced(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (const int error = injected(FileCall::Copy, to)) return std::unexpected(io_error(error));
  UniqueFd in(::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!in) return std::unexpected(io_error(errno));
  struct stat info {};
  if (::fstat(in.get(), &info) != 0) return std::unexpected(io_error(errno));
  if (!S_ISREG(info.st_mode)) return std::unexpected(CoreError::io("not a regular file (" + kind_of(info.st_mode) + ")"));
  UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, info.st_mode & 07777));
  if (!out) return std::unexpected(io_error(errno));  // nothing of this copy's is at `to`
  auto copied = [&]() -> Result<void> {
    (void)::fchmod(out.get(), info.st_mode & 07777);  // bits the umask took from the new file
    if (auto ok = copy_into(in.get(), out.get()); !ok) return ok;
    if (auto ok = flush_file(out.get()); !ok) return ok;
    return out.close();
  }();
  if (!copied) (void)::unlink(to.c_str());
  return copied;
}

}  // namespace core
