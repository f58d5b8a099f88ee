#include "vocabulary.hpp"

#include <algorithm>

namespace bench {
namespace {

constexpr std::string_view kConsonants = "bdfgklmnprstvz";
constexpr std::string_view kVowels = "aeiou";
constexpr uint64_t kSyllables = 14 * 5;
constexpr uint64_t kWordCodes = kSyllables * kSyllables * kSyllables;
// Coprime with kWordCodes (2^3 5^3 7^3), so code_of is a permutation: ranks
// never share a word, and words beyond the vocabulary are fresh.
constexpr uint64_t kScatter = 7919;

std::string word_of_code(uint64_t code) {
  std::string word;
  for (int i = 0; i < 3; ++i) {
    const uint64_t syllable = code % kSyllables;
    code /= kSyllables;
    word += kConsonants[syllable / kVowels.size()];
    word += kVowels[syllable % kVowels.size()];
  }
  return word;
}

std::string word_of_position(uint64_t position) { return word_of_code((position * kScatter + 4242) % kWordCodes); }

}  // namespace

uint64_t Rng::next() {
  uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

size_t Rng::below(size_t n) { return static_cast<size_t>(next() % n); }

double Rng::unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

uint64_t mix_seed(uint64_t seed, uint64_t stream, uint64_t index) {
  Rng rng(seed ^ (stream * 0xd1b54a32d192ed03ULL));
  Rng second(rng.next() ^ (index * 0x9e3779b97f4a7c15ULL));
  return second.next();
}

Vocabulary::Vocabulary() {
  words_.reserve(kSize);
  cumulative_.reserve(kSize);
  double total = 0;
  for (size_t rank = 0; rank < kSize; ++rank) {
    words_.push_back(word_of_position(rank));
    total += 1.0 / static_cast<double>(rank + 1);
    cumulative_.push_back(total);
  }
}

const Vocabulary& Vocabulary::instance() {
  static const Vocabulary vocabulary;
  return vocabulary;
}

const std::string& Vocabulary::sample(Rng& rng) const {
  const double target = rng.unit() * cumulative_.back();
  auto it = std::upper_bound(cumulative_.begin(), cumulative_.end(), target);
  const size_t rank = std::min(static_cast<size_t>(it - cumulative_.begin()), kSize - 1);
  return words_[rank];
}

double Vocabulary::probability(size_t rank) const {
  return 1.0 / static_cast<double>(rank + 1) / cumulative_.back();
}

std::string Vocabulary::outside_word(size_t k) { return word_of_position(kSize + k); }

std::string capitalized(std::string_view word) {
  std::string text(word);
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
  return text;
}

}  // namespace bench
