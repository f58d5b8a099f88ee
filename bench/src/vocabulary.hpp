#pragma once
// The word supply of generated vaults: a fixed pseudo-random source that
// gives the same sequence on every platform, and a fixed vocabulary whose
// words are drawn with a Zipf-like frequency, so that a generated vault has
// very common, middling and rare words.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bench {

// SplitMix64. The standard distributions are not specified bit for bit, so
// everything random in the benchmark goes through this one generator.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t next();
  // Uniform in [0, n); n must be positive.
  size_t below(size_t n);
  // Uniform in [0, 1).
  double unit();
  // True with probability `p`.
  bool chance(double p) { return unit() < p; }

 private:
  uint64_t state_;
};

// Mixes `seed`, a stream number and an index into one Rng seed, so that each
// (stream, index) pair has its own independent sequence.
uint64_t mix_seed(uint64_t seed, uint64_t stream, uint64_t index);

// Every word has six lower-case ASCII letters, consonant-vowel three times.
// Since all words have the same length, none is a prefix of another, so a
// prefix search for one word finds that word only.
class Vocabulary {
 public:
  static constexpr size_t kSize = 4096;

  // The one shared vocabulary, built on first use.
  static const Vocabulary& instance();

  // The word of frequency rank `rank` (0 is the most frequent); rank < kSize.
  const std::string& word(size_t rank) const { return words_[rank]; }
  // A word drawn with probability proportional to 1 / (rank + 1).
  const std::string& sample(Rng& rng) const;
  // The probability with which `sample` gives the word of `rank`.
  double probability(size_t rank) const;
  // The k-th word of the same shape that is not in the vocabulary; distinct
  // for distinct k.
  static std::string outside_word(size_t k);

 private:
  Vocabulary();
  std::vector<std::string> words_;
  std::vector<double> cumulative_;  // cumulative_[r]: weight of ranks 0..r
};

// `word` with its first ASCII letter in upper case.
std::string capitalized(std::string_view word);

}  // namespace bench
