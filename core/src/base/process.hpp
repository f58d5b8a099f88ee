#pragma once
// What the program asks of its own process and the system besides files:
// environment variables, the running program's path and the process id.
// The platform seam's second half (see files.hpp): process.cpp for POSIX,
// process_windows.cpp for Windows, where the environment is read in its
// wide-character form and given as UTF-8.

#include <filesystem>
#include <optional>
#include <string>

namespace core {

// The variable's value, UTF-8; none when it is not set (set to the empty
// text is a value).
std::optional<std::string> environment_variable(const char* name);

// The running program's absolute path; "brask-tolvane-mcp" when the system
// does not say.
std::filesystem::path running_program();

// This process's id.
unsigned long process_id();

}  // namespace core
