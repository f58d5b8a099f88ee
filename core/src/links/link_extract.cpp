#include "links/link_extract.hpp"

#include "base/text.hpp"

#include <unordered_set>

namespace core {
namespace {

constexpr std::string_view kLongPrefix = "brask-tolvane://";
constexpr std::string_view kShortPrefix = "tolvane://";
constexpr std::size_t kMinIdLength = 8;
constexpr std::size_t kMaxIdLength = 128;

bool is_id_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

// Length of the address prefix at `i`, or 0. The long prefix is tried
// first: the short one is its tail.
std::size_t prefix_at(std::string_view body, std::size_t i) {
  for (std::string_view prefix : {kLongPrefix, kShortPrefix})
    if (ascii_iequals(body.substr(i, prefix.size()), prefix)) return prefix.size();
  return 0;
}

// Keeps the order of first appearance; the set makes a body with many
// distinct links linear rather than quadratic.
class DistinctTexts {
 public:
  void add(std::string_view text) {
    if (seen_.insert(std::string(text)).second) list_.emplace_back(text);
  }
  std::vector<std::string> take() { return std::move(list_); }

 private:
  std::unordered_set<std::string> seen_;
  std::vector<std::string> list_;
};

}  // namespace

std::vector<WikiLinkSpan> find_wiki_link_spans(std::string_view body) {
  std::vector<WikiLinkSpan> spans;
  std::size_t i = 0;
  while (i + 4 <= body.size()) {
    if (body[i] != '[' || body[i + 1] != '[') {
      ++i;
      continue;
    }
    const std::size_t close = body.find("]]", i + 2);
    // With no "]]" after this point, no later "[[" can close either.
    if (close == std::string_view::npos) break;
    std::string_view text = trim(body.substr(i + 2, close - (i + 2)));
    if (!text.empty()) spans.push_back({text, i, close + 2});
    i = close + 2;
  }
  return spans;
}

std::vector<std::string> extract_wiki_links(std::string_view body) {
  DistinctTexts titles;
  for (const WikiLinkSpan& span : find_wiki_link_spans(body)) titles.add(span.text);
  return titles.take();
}

std::vector<std::string> extract_id_links(std::string_view body) {
  // Bytes rather than characters: the prefixes are ASCII, and an ASCII
  // byte never occurs inside a multi-byte UTF-8 character.
  DistinctTexts ids;
  std::size_t i = 0;
  while (i < body.size()) {
    const std::size_t prefix = prefix_at(body, i);
    if (prefix == 0) {
      ++i;
      continue;
    }
    const std::size_t start = i + prefix;
    std::size_t end = start;
    while (end < body.size() && is_id_char(body[end])) ++end;
    const std::size_t length = end - start;
    const bool is_id = length >= kMinIdLength && length <= kMaxIdLength;
    if (is_id) ids.add(body.substr(start, length));
    i = is_id ? end : start;
  }
  return ids.take();
}

std::vector<LinkRecord> extract_links(std::string_view body, std::string_view note_id) {
  std::vector<LinkRecord> records;
  for (std::string& title : extract_wiki_links(body))
    records.push_back({"markdown", std::nullopt, std::move(title), true});
  for (std::string& id : extract_id_links(body))
    if (id != note_id) records.push_back({"markdown", std::move(id), std::nullopt, false});
  return records;
}

}  // namespace core
