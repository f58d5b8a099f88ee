#pragma once
// Test helper: sets or removes environment variables for one test and puts
// every touched variable back as it was when the helper goes.

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace core::testing {

class ScopedEnv {
 public:
  ScopedEnv() = default;
  ~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) setenv(it->first.c_str(), it->second->c_str(), 1);
      else unsetenv(it->first.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

  ScopedEnv& set(const std::string& name, const std::string& value) {
    save(name);
    setenv(name.c_str(), value.c_str(), 1);
    return *this;
  }
  ScopedEnv& unset(const std::string& name) {
    save(name);
    unsetenv(name.c_str());
    return *this;
  }

 private:
  // Only the first touch records the original value.
  void save(const std::string& name) {
    for (const auto& entry : saved_)
      if (entry.first == name) return;
    const char* value = std::getenv(name.c_str());
    saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace core::testing
