#pragma once
// Rewriting the title links of a body after the linked note's title changed.

#include <cstddef>
#include <string>
#include <string_view>

namespace core {

struct RewrittenBody {
  std::string body;
  std::size_t replaced = 0;  // links rewritten; 0 means `body` is the input unchanged
};

// Replaces every title link of `body` whose trimmed text equals the trimmed
// `old_title` (ASCII letter case ignored) by "[[" + trimmed `new_title` +
// "]]". Nothing is rewritten when either title is blank after trimming, or
// when the two differ only in ASCII letter case. The new title is written
// as it is, with no escaping. Identifier links are never touched.
RewrittenBody rewrite_links(std::string_view body, std::string_view old_title, std::string_view new_title);

}  // namespace core
