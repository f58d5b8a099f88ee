#pragma once
// Identifiers and timestamps: the only values the core invents itself.

#include <chrono>
#include <string>

namespace core {

// A new identifier: 24 characters, a lower-case letter followed by 23
// lower-case base-36 digits (CUID2 with SHA3-512). Each thread keeps its own
// counter and fingerprint. Draws come from OpenSSL's strong generator.
std::string new_note_id();

// The current UTC time as RFC 3339 text with offset "+00:00".
std::string now_timestamp();

// `instant` written as RFC 3339 in UTC, "+00:00", with a fraction of 0, 3,
// 6 or 9 digits: the shortest of those widths that holds the sub-second part
// exactly. Texts made this way sort in time order when compared as text.
std::string format_timestamp(std::chrono::sys_time<std::chrono::nanoseconds> instant);

}  // namespace core
