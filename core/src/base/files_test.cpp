#include "base/files.hpp"

#include "testing/platform.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <fstream>
#include <cstring>

namespace core {
namespace {

namespace fs = std::filesystem;

[[maybe_unused]] std::string read_error(const fs::path& path, std::size_t max) {
  auto read = read_regular_file(path, max);
  return read ? "read " + std::to_string(read->size()) : to_text(read.error());
}

#ifndef _WIN32  // named pipes, sockets and /dev: POSIX file kinds
// Only a regular file is read, to a bound, and nothing makes the read wait:
// a named pipe nobody writes to would otherwise hold the reader forever,
// and a link to a device would be read without end.
TEST(ReadRegularFile, ReadsRegularFilesUpToTheBoundAndRefusesEveryOtherKind) {
  BT_REQUIRE_LINKS();
  testing::TempDir dir;
  const fs::path d = dir.path();
  const std::size_t mib = std::size_t{1} << 20;
  std::string exact(mib, 'x');
  { std::FILE* f = std::fopen((d / "exact").c_str(), "wb"); std::fwrite(exact.data(), 1, exact.size(), f); std::fclose(f); }
  fs::copy_file(d / "exact", d / "over");
  { std::FILE* f = std::fopen((d / "over").c_str(), "ab"); std::fputc('x', f); std::fclose(f); }
  ASSERT_EQ(::mkfifo((d / "pipe").c_str(), 0644), 0);
  fs::create_symlink("/dev/zero", d / "zero");
  fs::create_symlink("pipe", d / "to-pipe");
  fs::create_directory(d / "folder");
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string sock_path = (d / "sock").string();
  ASSERT_LT(sock_path.size(), sizeof addr.sun_path);
  std::memcpy(addr.sun_path, sock_path.c_str(), sock_path.size() + 1);
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

  struct Case { std::string name; std::string want; };
  for (const Case& c : {Case{"exact", "read 1048576"}, Case{"over", "IO error: file is larger than 1 MiB"},
                        Case{"pipe", "IO error: not a regular file (a named pipe)"},
                        Case{"to-pipe", "IO error: not a regular file (a named pipe)"},
                        Case{"zero", "IO error: not a regular file (a device)"},
                        Case{"sock", "IO error: No such device or address"},
                        Case{"folder", "IO error: Is a directory"},
                        Case{"missing", "IO error: No such file or directory"}})
    EXPECT_EQ(read_error(d / c.name, mib), c.want) << c.name;
  ::close(sock);
}
#endif

TEST(RenameNoReplace, NeverReplacesAnEntryOfAnyKind) {
  BT_REQUIRE_LINKS();
  testing::TempDir dir;
  const fs::path d = dir.path();
  for (const char* name : {"from", "taken"}) std::ofstream(d / name, std::ios::binary).flush();
  fs::create_symlink("nowhere", d / "dangling");
  EXPECT_EQ(rename_no_replace(d / "from", d / "taken"), EEXIST);
  EXPECT_EQ(rename_no_replace(d / "from", d / "dangling"), EEXIST);
  EXPECT_TRUE(fs::is_symlink(d / "dangling"));
  EXPECT_TRUE(entry_exists(d / "dangling"));
  EXPECT_EQ(rename_no_replace(d / "from", d / "free"), 0);
  EXPECT_FALSE(entry_exists(d / "from"));
  EXPECT_TRUE(entry_exists(d / "free"));
}

// A copy keeps the bytes and the permission bits, never replaces a file,
// and copies only regular files.
TEST(CopyFileSynced, CopiesARegularFileToAFreeName) {
  testing::TempDir dir;
  const fs::path d = dir.path();
  std::ofstream(d / "from", std::ios::binary) << "bytes";
  fs::permissions(d / "from", fs::perms(0640));
  ASSERT_TRUE(testing::is_ok(copy_file_synced(d / "from", d / "to")));
  EXPECT_EQ(*read_regular_file(d / "to", 1 << 20), "bytes");
#ifndef _WIN32  // Windows keeps no mode bits but read-only
  EXPECT_EQ(fs::status(d / "to").permissions(), fs::perms(0640));
#endif

  EXPECT_EQ(to_text(copy_file_synced(d / "from", d / "to").error()), "IO error: File exists");
  EXPECT_EQ(*read_regular_file(d / "to", 1 << 20), "bytes");
  if (testing::kHasNamedPipes) {
    testing::make_named_pipe(d / "pipe");
    EXPECT_EQ(to_text(copy_file_synced(d / "pipe", d / "pipe-copy").error()), "IO error: not a regular file (a named pipe)");
    EXPECT_FALSE(entry_exists(d / "pipe-copy"));
  }
  EXPECT_EQ(temp_path_beside(d / std::string(250, 'n'), "tag").filename().string(), "." + std::string(200, 'n') + ".tag.tmp");
}

}  // namespace
}  // namespace core
