#include "note/note_file.hpp"

#include "note/frontmatter.hpp"
#include "base/ids.hpp"
#include "base/text.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace core {
namespace {

constexpr std::string_view kDelimiter = "---";

std::unexpected<CoreError> io_error(int error_number) {
  return std::unexpected(CoreError::io(std::generic_category().message(error_number)));
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);  // only read-only files are closed here, so close cannot lose data
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// A file beside the target that becomes the target on commit() and is
// removed otherwise. Its name starts with "." and does not end in ".md", so
// listings of notes never take it for a note.
class TempFile {
 public:
  TempFile() = default;
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());  // a leftover is harmless; there is no one to tell
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  [[nodiscard]] Result<void> open_beside(const std::filesystem::path& target) {
    // Keep room for the suffix within the usual 255-byte limit of a name.
    const std::string name = target.filename().string().substr(0, 200);
    for (int attempt = 0;; ++attempt) {
      const std::string random = new_note_id().substr(1, 10);
      std::filesystem::path candidate = target.parent_path() / ("." + name + "." + random + ".tmp");
      // 0666 lets the umask decide, as for any newly created file.
      fd_ = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ >= 0) {
        path_ = std::move(candidate);
        return {};
      }
      if (errno != EEXIST || attempt == 8) return io_error(errno);
    }
  }

  [[nodiscard]] Result<void> write_all(std::string_view text) {
    while (!text.empty()) {
      const ssize_t n = ::write(fd_, text.data(), text.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return io_error(errno);
      text.remove_prefix(static_cast<size_t>(n));
    }
    return {};
  }

  // Gives the file the permissions of the file it replaces.
  void keep_mode_of(const std::filesystem::path& target) const {
    struct stat existing {};
    // A new note has no previous mode to keep; a failed chmod leaves the
    // default mode, which still lets the owner read and write the note.
    if (::stat(target.c_str(), &existing) == 0) (void)::fchmod(fd_, existing.st_mode & 07777);
  }

  // Flushes to disk before the rename, so that a crash cannot leave the
  // renamed file without its contents.
  [[nodiscard]] Result<void> commit(const std::filesystem::path& target) {
    if (::fsync(fd_) != 0) return io_error(errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return io_error(errno);
    if (::rename(path_.c_str(), target.c_str()) != 0) return io_error(errno);
    path_.clear();
    return {};
  }

 private:
  int fd_ = -1;
  std::filesystem::path path_;
};

Result<std::string> read_whole_file(const std::filesystem::path& path) {
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return io_error(errno);
  std::string text;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return io_error(errno);
    if (n == 0) return text;
    text.append(buffer, static_cast<size_t>(n));
  }
}

// Renaming over a symbolic link would replace the link with a plain file
// and leave the file it points to stale, so the link's target is written.
std::filesystem::path write_target(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::is_symlink(path, ec)) return path;
  std::filesystem::path resolved = std::filesystem::canonical(path, ec);
  return ec ? path : resolved;  // a dangling link is replaced, as a missing file would be created
}

std::size_t count_line_feeds(std::string_view text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace

NoteFrontmatter default_frontmatter() {
  NoteFrontmatter frontmatter;
  frontmatter.id = new_note_id();
  frontmatter.title = "Untitled";
  frontmatter.created_at = now_timestamp();
  frontmatter.updated = now_timestamp();
  return frontmatter;
}

Result<Note> parse_note_file(std::string_view text, std::filesystem::path path) {
  Note note;
  note.path = std::move(path);
  const std::string_view start = trim_start(text);
  if (!start.starts_with(kDelimiter)) {
    note.frontmatter = default_frontmatter();
    note.body = text;
  } else {
    const std::string_view rest = start.substr(kDelimiter.size());
    const std::size_t close = rest.find("\n---");
    if (close == std::string_view::npos) return std::unexpected(CoreError::message("unclosed frontmatter"));
    // The line feed before the closing "---" ends the last YAML line; without
    // it a block text at the end of the frontmatter would lose its own.
    const std::string_view yaml = rest.substr(0, close + 1);
    std::string_view body = rest.substr(close + 1 + kDelimiter.size());
    if (body.starts_with('\n')) body.remove_prefix(1);
    note.body = body;
    if (trim(yaml).empty()) {
      note.frontmatter = default_frontmatter();
    } else {
      const std::size_t first_line = 1 + count_line_feeds(text.substr(0, text.size() - start.size()));
      auto frontmatter = read_frontmatter(yaml, first_line);
      if (!frontmatter) return std::unexpected(std::move(frontmatter.error()));
      note.frontmatter = std::move(*frontmatter);
    }
  }
  if (note.frontmatter.tags.empty()) note.frontmatter.tags = extract_hashtags(note.frontmatter.title);
  return note;
}

Result<std::string> render_note_file(const Note& note) {
  Result<std::string> yaml;
  if (note.frontmatter.tags.empty()) {
    NoteFrontmatter with_tags = note.frontmatter;
    with_tags.tags = extract_hashtags(with_tags.title);
    yaml = write_frontmatter(with_tags);
  } else {
    yaml = write_frontmatter(note.frontmatter);
  }
  if (!yaml) return yaml;
  std::string text;
  text.reserve(2 * (kDelimiter.size() + 1) + yaml->size() + note.body.size());
  text.append(kDelimiter).append("\n").append(*yaml).append(kDelimiter).append("\n").append(note.body);
  return text;
}

// Whether parse_note_file would take the frontmatter from `text` rather than
// make one up: a "---" block that is closed and not blank.
bool has_frontmatter_block(std::string_view text) {
  const std::string_view start = trim_start(text);
  if (!start.starts_with(kDelimiter)) return false;
  const std::string_view rest = start.substr(kDelimiter.size());
  const std::size_t close = rest.find("\n---");
  return close != std::string_view::npos && !trim(rest.substr(0, close + 1)).empty();
}

Result<NoteFileRead> read_note_file_checked(const std::filesystem::path& path) {
  auto text = read_whole_file(path);
  if (!text) return std::unexpected(std::move(text.error()));
  if (!is_valid_utf8(*text)) return std::unexpected(CoreError::io("data is not valid UTF-8"));
  auto note = parse_note_file(*text, path);
  if (!note) return std::unexpected(std::move(note.error()));
  return NoteFileRead{std::move(*note), has_frontmatter_block(*text)};
}

Result<Note> read_note_file(const std::filesystem::path& path) {
  auto text = read_whole_file(path);
  if (!text) return std::unexpected(std::move(text.error()));
  if (!is_valid_utf8(*text)) return std::unexpected(CoreError::io("data is not valid UTF-8"));
  return parse_note_file(*text, path);
}

Result<void> write_note_file(const Note& note) {
  if (note.path.empty()) return std::unexpected(CoreError::message("note path not set"));
  auto text = render_note_file(note);
  if (!text) return std::unexpected(std::move(text.error()));
  const std::filesystem::path target = write_target(note.path);
  std::error_code ec;
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);
  if (ec) return std::unexpected(CoreError::io(ec.message()));
  TempFile temp;
  if (auto ok = temp.open_beside(target); !ok) return ok;
  if (auto ok = temp.write_all(*text); !ok) return ok;
  temp.keep_mode_of(target);
  return temp.commit(target);
}

}  // namespace core
