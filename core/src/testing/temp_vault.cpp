#include "testing/temp_vault.hpp"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace core::testing {
namespace {

// A new folder under the system's temporary folder, made by this call
// alone (create_directory fails on a name that is taken).
std::filesystem::path make_temp_dir() {
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::random_device random;
  std::error_code ec;
  const std::filesystem::path parent = std::filesystem::temp_directory_path(ec);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = "bt-test-";
    for (int i = 0; i < 10; ++i) name += kDigits[random() % 36];
    const std::filesystem::path dir = parent / name;
    if (std::filesystem::create_directory(dir, ec)) return dir;
  }
  ADD_FAILURE() << "cannot create a temporary directory";
  return parent / "bt-test-failed";
}

}  // namespace

TempVault::TempVault() : root_(make_temp_dir()) {
  std::filesystem::create_directories(root_ / "notes");
  std::filesystem::create_directories(root_ / ".brask-tolvane");
}

TempVault::~TempVault() {
  std::error_code ignored;  // a leftover temporary folder is not a test failure
  std::filesystem::remove_all(root_, ignored);
}

void TempVault::write_file(const std::filesystem::path& relative, std::string_view text) const {
  std::filesystem::create_directories((root_ / relative).parent_path());
  std::ofstream out(root_ / relative, std::ios::binary);
  out << text;
}

std::string TempVault::read_file(const std::filesystem::path& relative) const {
  std::ifstream in(root_ / relative, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::map<std::string, std::string> TempVault::files(const std::filesystem::path& relative) const {
  std::map<std::string, std::string> found;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(root_ / relative, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    if (it->is_regular_file(ec) && !it->is_symlink(ec)) {
      const std::filesystem::path below = it->path().lexically_relative(root_);
      found[below.generic_string()] = read_file(below);
    }
  return found;
}

void VaultTest::SetUp() {
  auto opened = open_vault(tv.root());
  ASSERT_TRUE(is_ok(opened));
  vault.emplace(std::move(*opened));
}

TempDir::TempDir() : path_(make_temp_dir()) {}

TempDir::~TempDir() {
  std::error_code ignored;  // as above
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace core::testing
