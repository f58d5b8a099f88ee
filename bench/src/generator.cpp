#include "generator.hpp"

#include "vocabulary.hpp"

#include <algorithm>

namespace bench {
namespace {

// One random stream per field, so that e.g. the title of a note can be made
// without making its body.
enum Stream : uint64_t { kIdStream = 1, kTitleStream, kFolderStream, kMetaStream, kBodyStream, kLinkStream };

constexpr std::string_view kTags[] = {"idea", "work", "home", "later", "reading"};
// Title words skip the most frequent ranks, which should stay body words.
constexpr size_t kFirstTitleRank = 64;
// Rank whose word lands in roughly a tenth of the bodies (about 300 draws
// each, with probability ~1/(321 * 8.9) per draw).
constexpr size_t kMidRank = 320;

struct FolderShare {
  std::string_view folder;
  size_t percent;  // cumulative
};
constexpr FolderShare kFolderShares[] = {{"", 15},        {"projects", 35},   {"projects/2024", 50}, {"journal", 65},
                                         {"journal/2023", 75}, {"areas/home", 85}, {"archive", 100}};

std::string sentence_of_words(Rng& rng, size_t count) {
  const Vocabulary& vocabulary = Vocabulary::instance();
  std::string sentence = capitalized(vocabulary.sample(rng));
  for (size_t w = 1; w < count; ++w) sentence += " " + vocabulary.sample(rng);
  return sentence + ".";
}

// Joins sentences into paragraphs of five, separated by blank lines.
std::string paragraphs_of(const std::vector<std::string>& sentences) {
  std::string body;
  for (size_t s = 0; s < sentences.size(); ++s) {
    if (s > 0) body += (s % 5 == 0) ? "\n\n" : " ";
    body += sentences[s];
  }
  return body;
}

void add_distinct(std::vector<size_t>& into, size_t value) {
  if (std::find(into.begin(), into.end(), value) == into.end()) into.push_back(value);
}

}  // namespace

VaultGenerator::VaultGenerator(size_t note_count, uint64_t seed)
    : size_(std::max(note_count, kMinNotes)), seed_(seed) {
  // Spread over the whole vault; distinct since size_ - 1 >= kHubLinkers.
  for (size_t k = 0; k < kHubLinkers; ++k) hub_linkers_.push_back(1 + k * (size_ - 1) / kHubLinkers);
}

std::string VaultGenerator::id(size_t i) const {
  static constexpr std::string_view kDigits = "0123456789abcdefghijklmnopqrstuvwxyz";
  Rng rng(mix_seed(seed_, kIdStream, i));
  std::string text(1, static_cast<char>('a' + rng.below(26)));
  while (text.size() < 24) text += kDigits[rng.below(kDigits.size())];
  return text;
}

std::string VaultGenerator::title(size_t i) const {
  const Vocabulary& vocabulary = Vocabulary::instance();
  Rng rng(mix_seed(seed_, kTitleStream, i));
  const size_t span = Vocabulary::kSize - kFirstTitleRank;
  std::string text = capitalized(vocabulary.word(kFirstTitleRank + rng.below(span)));
  text += " " + vocabulary.word(kFirstTitleRank + rng.below(span)) + " " + std::to_string(i);
  if (rng.chance(0.3)) text += " #" + std::string(kTags[rng.below(std::size(kTags))]);
  return text;
}

std::string VaultGenerator::folder(size_t i) const {
  Rng rng(mix_seed(seed_, kFolderStream, i));
  const size_t roll = rng.below(100);
  for (const FolderShare& share : kFolderShares)
    if (roll < share.percent) return std::string(share.folder);
  return "";
}

std::map<std::string, std::string> VaultGenerator::metas(size_t i) const {
  static constexpr std::string_view kStatuses[] = {"draft", "active", "done"};
  Rng rng(mix_seed(seed_, kMetaStream, i));
  std::map<std::string, std::string> result;
  if (rng.chance(0.6)) result["status"] = kStatuses[rng.below(std::size(kStatuses))];
  if (rng.chance(0.3)) result["priority"] = std::to_string(1 + rng.below(3));
  if (rng.chance(0.2)) {
    char date[16];
    std::snprintf(date, sizeof date, "2024-%02zu-%02zu", 1 + rng.below(12), 1 + rng.below(28));
    result["due"] = date;
  }
  return result;
}

bool VaultGenerator::links_to_hub(size_t i) const {
  return std::binary_search(hub_linkers_.begin(), hub_linkers_.end(), i);
}

bool VaultGenerator::holds_rare_word(size_t i) const {
  return i == size_ / 4 || i == size_ / 2 || i == 3 * size_ / 4;
}

QueryWords VaultGenerator::query_words() const {
  const Vocabulary& vocabulary = Vocabulary::instance();
  return {vocabulary.word(0), vocabulary.word(kMidRank), Vocabulary::outside_word(0), Vocabulary::outside_word(1)};
}

const std::vector<std::string>& VaultGenerator::folders() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> all;
    for (const FolderShare& share : kFolderShares) all.emplace_back(share.folder);
    return all;
  }();
  return names;
}

std::vector<size_t> VaultGenerator::title_link_targets(size_t i) const {
  Rng rng(mix_seed(seed_, kLinkStream, i));
  std::vector<size_t> targets;
  if (links_to_hub(i)) targets.push_back(kHub);
  const size_t wanted = 2 + rng.below(3);
  // Links to earlier notes resolve when the vault is loaded in order; the
  // rest stay unresolved title links, as in a vault written over time.
  for (size_t attempt = 0; attempt < 4 * wanted && targets.size() < wanted + links_to_hub(i); ++attempt) {
    const bool backward = i >= 2 && i < size_ && rng.chance(0.8);
    const size_t target = backward ? 1 + rng.below(i - 1) : 1 + rng.below(size_ - 1);
    if (target != i) add_distinct(targets, target);
  }
  return targets;
}

std::vector<size_t> VaultGenerator::id_link_targets(size_t i) const {
  Rng rng(mix_seed(seed_, kLinkStream, i) ^ 0x5bd1e995ULL);
  std::vector<size_t> targets;
  const size_t wanted = 1 + rng.below(2);
  for (size_t attempt = 0; attempt < 4 * wanted && targets.size() < wanted; ++attempt) {
    const size_t target = 1 + rng.below(size_ - 1);
    if (target != i) add_distinct(targets, target);
  }
  return targets;
}

NoteDraft VaultGenerator::note(size_t i) const {
  NoteDraft draft{id(i), title(i), "", metas(i), folder(i), title_link_targets(i), id_link_targets(i)};
  Rng rng(mix_seed(seed_, kBodyStream, i));
  std::vector<std::string> sentences;
  for (size_t words = 200 + rng.below(200); words > 0;) {
    const size_t count = std::min(words, 8 + rng.below(9));
    sentences.push_back(sentence_of_words(rng, count));
    words -= count;
  }
  if (holds_rare_word(i)) sentences.front().insert(0, Vocabulary::outside_word(0) + " ");

  std::vector<std::string> links;
  for (size_t target : draft.title_links) links.push_back("See [[" + title(target) + "]].");
  for (size_t target : draft.id_links) links.push_back("Source: brask-tolvane://" + id(target) + ".");
  // Ascending positions keep the links in the order of the lists above.
  std::vector<size_t> positions;
  for (size_t k = 0; k < links.size(); ++k) positions.push_back(1 + rng.below(sentences.size()));
  std::sort(positions.begin(), positions.end());
  for (size_t k = links.size(); k-- > 0;) sentences.insert(sentences.begin() + positions[k], links[k]);
  draft.body = paragraphs_of(sentences);
  return draft;
}

}  // namespace bench
