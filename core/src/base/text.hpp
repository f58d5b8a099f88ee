#pragma once
// Small text helpers shared by the whole core. Texts are UTF-8.
//
// White space is the Unicode White_Space set: tab, line feed, vertical tab,
// form feed, carriage return, space, U+0085, U+00A0, U+1680, U+2000..U+200A,
// U+2028, U+2029, U+202F, U+205F and U+3000. U+FEFF is not white space.

#include <string>
#include <string_view>
#include <vector>

namespace core {

bool is_white_space(char32_t c);

// `text` without leading and trailing white space; a view into `text`.
std::string_view trim(std::string_view text);
// `text` without leading white space; a view into `text`.
std::string_view trim_start(std::string_view text);

// The words of `text`, split at runs of white space; never empty words.
// The views point into `text`.
std::vector<std::string_view> split_words(std::string_view text);

// ASCII case folding: only A..Z change; every other byte is kept.
std::string ascii_lower(std::string_view text);
bool ascii_iequals(std::string_view a, std::string_view b);

// Full Unicode lower case (root locale), so U+0130 gives two code points and
// a final capital sigma becomes a final sigma. Used only where the system
// folds beyond ASCII (hashtag de-duplication, vault path comparison).
// Invalid UTF-8 is returned unchanged.
std::string unicode_lower(std::string_view text);

// Whether `bytes` is well-formed UTF-8.
bool is_valid_utf8(std::string_view bytes);

// `bytes` with each maximal ill-formed subsequence replaced by one U+FFFD,
// as the usual lossy decoders do (a valid text comes back as it is).
std::string lossy_utf8(std::string_view bytes);

}  // namespace core
