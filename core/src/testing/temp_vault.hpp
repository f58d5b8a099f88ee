#pragma once
// Test helpers: a real vault directory that removes itself, and a check
// that prints the error text of a failed Result.

#include "index/index_db.hpp"
#include "base/error.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <optional>
#include <string_view>

namespace core::testing {

// A fresh directory under the system's temporary folder holding a vault
// skeleton: `notes/` and the marker directory `.brask-tolvane/`. Removed,
// with everything in it, when the fixture goes.
class TempVault {
 public:
  TempVault();
  ~TempVault();
  TempVault(const TempVault&) = delete;
  TempVault& operator=(const TempVault&) = delete;

  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path notes() const { return root_ / "notes"; }

  // Writes `text` to `relative` (below the root), creating folders.
  void write_file(const std::filesystem::path& relative, std::string_view text) const;
  // The whole content of `relative`; empty when it cannot be read.
  std::string read_file(const std::filesystem::path& relative) const;
  // Every regular file below `relative` (folder links not followed), by
  // path below the root, with its content: what a failed change must
  // leave exactly as it was. A missing folder holds nothing.
  std::map<std::string, std::string> files(const std::filesystem::path& relative = "notes") const;

 private:
  std::filesystem::path root_;
};

// A fresh empty directory that removes itself; for tests that need a folder
// which is not a vault (a HOME, a configuration directory).
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A fixture holding a fresh vault, opened for the whole test.
class VaultTest : public ::testing::Test {
 protected:
  void SetUp() override;

  TempVault tv;
  std::optional<Vault> vault;
};

template <class T>
::testing::AssertionResult is_ok(const Result<T>& r) {
  if (r) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << to_text(r.error());
}

// A change's outcome without its value, so that changes of every kind fit
// one table of cases.
template <class T>
Result<void> drop(Result<T> result) {
  if (!result) return std::unexpected(std::move(result.error()));
  return {};
}

}  // namespace core::testing
