#pragma once
// Test helper: sets or removes environment variables for one test and puts
// every touched variable back as it was when the helper goes.

#include "base/process.hpp"
#include "testing/platform.hpp"

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
      set_env(it->first, it->second);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

  ScopedEnv& set(const std::string& name, const std::string& value) {
    save(name);
    set_env(name, value);
    return *this;
  }
  ScopedEnv& unset(const std::string& name) {
    save(name);
    set_env(name, std::nullopt);
    return *this;
  }

 private:
  // Only the first touch records the original value.
  void save(const std::string& name) {
    for (const auto& entry : saved_)
      if (entry.first == name) return;
    saved_.emplace_back(name, environment_variable(name.c_str()));
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace core::testing
