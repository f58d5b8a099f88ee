#pragma once
// Test helpers for what the platforms do differently: environment
// variables, named pipes (POSIX only), folder times and mode bits.

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

namespace core::testing {

// Sets `name` to `value`, or removes it with nullopt, for the process and
// its C runtime alike (Windows: the wide-character environment, which the
// core reads).
void set_env(const std::string& name, const std::optional<std::string>& value);

// Whether the platform has named pipes in its file system (POSIX does,
// Windows does not).
constexpr bool kHasNamedPipes =
#ifdef _WIN32
    false;
#else
    true;
#endif

// Makes a named pipe at `path` where the platform has them (a test failure
// when that fails); does nothing on Windows.
void make_named_pipe(const std::filesystem::path& path);

// Whether this process can make symbolic links: POSIX always; Windows
// only with the privilege (or developer mode), and Wine not at all.
bool links_supported();

// Skips the test where links cannot be made; the first line of a test (or
// of its fixture's SetUp) that makes one.
#define BT_REQUIRE_LINKS()                          \
  do {                                              \
    if (!::core::testing::links_supported())        \
      GTEST_SKIP() << "no symbolic links here";     \
  } while (false)

// Sets the modification time of the file or folder `path` to `when`.
// Fails the test when it cannot.
void set_modified_time(const std::filesystem::path& path, std::time_t when);

}  // namespace core::testing
