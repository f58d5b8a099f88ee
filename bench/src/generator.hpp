#pragma once
// A deterministic vault of N notes. Every field of every note follows from
// (N, seed, index) alone, so the loader, the floor and the tests rebuild any
// note on demand and no run keeps the whole vault in memory.
//
// Shape of a vault:
// - titles are two vocabulary words and the note's index; about a third end
//   with one #tag;
// - bodies hold 200 to 399 vocabulary words (Zipf-like frequencies), two to
//   four [[Title]] links (mostly to earlier notes, so most resolve when the
//   notes are loaded in order) and one or two note addresses;
// - note kHub is named by [[Title]] in exactly kHubLinkers other notes, and
//   by no other link;
// - the rare query word occurs in exactly kRareNotes notes;
// - notes are spread over the folders of `folders()`, some in notes/ itself;
// - most notes carry metas (status, priority, due).

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace bench {

struct NoteDraft {
  std::string id;
  std::string title;
  std::string body;
  std::map<std::string, std::string> metas;
  std::string folder;               // below notes/; "" is notes/ itself
  std::vector<size_t> title_links;  // notes named by [[Title]], in body order, distinct
  std::vector<size_t> id_links;     // notes named by address, in body order, distinct
};

// The words that the search benchmark asks for.
struct QueryWords {
  std::string common;   // in nearly every note
  std::string mid;      // in roughly a tenth of the notes
  std::string rare;     // in exactly VaultGenerator::kRareNotes notes
  std::string missing;  // in no note
};

class VaultGenerator {
 public:
  static constexpr size_t kHub = 0;
  static constexpr size_t kHubLinkers = 50;
  static constexpr size_t kRareNotes = 3;
  static constexpr size_t kMinNotes = 2 * kHubLinkers;
  static constexpr std::string_view kFilterTag = "idea";             // a tag some titles carry
  static constexpr std::string_view kFilterMeta = "status=draft";    // a meta many notes carry

  // A vault of max(note_count, kMinNotes) notes.
  VaultGenerator(size_t note_count, uint64_t seed);

  size_t size() const { return size_; }
  uint64_t seed() const { return seed_; }

  // Note `i`. Any index is valid: notes from size() on are new notes, not
  // part of the vault, whose links point into the vault only.
  NoteDraft note(size_t i) const;
  // The parts of note `i`, each cheaper than the whole note.
  std::string id(size_t i) const;
  std::string title(size_t i) const;
  std::string folder(size_t i) const;
  std::map<std::string, std::string> metas(size_t i) const;

  // The notes that link to kHub by title, ascending.
  const std::vector<size_t>& hub_linkers() const { return hub_linkers_; }
  bool links_to_hub(size_t i) const;
  bool holds_rare_word(size_t i) const;
  QueryWords query_words() const;

  // The folders notes are spread over, "" (notes/ itself) first.
  static const std::vector<std::string>& folders();

 private:
  std::vector<size_t> title_link_targets(size_t i) const;
  std::vector<size_t> id_link_targets(size_t i) const;

  size_t size_;
  uint64_t seed_;
  std::vector<size_t> hub_linkers_;
};

}  // namespace bench
