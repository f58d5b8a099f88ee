#pragma once
// What the program sets up about its own process before it reads a line:
// the platform's part of starting, kept out of main.

#include <string>
#include <vector>

namespace mcp {

// The command line's arguments after the program name, as UTF-8 (Windows
// gives main() the ANSI code page; the wide command line is exact).
std::vector<std::string> command_line_arguments(int argc, char** argv);

// Standard input and output carry the protocol's bytes as they are:
// Windows would otherwise turn "\n" into "\r\n" on output and stop reading
// at a Ctrl-Z. Also sets the console, where there is one, to UTF-8.
void use_binary_standard_streams();

// A client that closes its end of stdout must not kill the server, and
// neither may a file size limit (ulimit -f): with the signals ignored, a
// write past the limit fails with EFBIG and the call answers
// "IO error: File too large", leaving the old note in place. Windows has
// neither signal.
void ignore_write_signals();

}  // namespace mcp
