#include "generator.hpp"

#include "vocabulary.hpp"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

namespace bench {
namespace {

// The distinct lower-cased words of `text`, cut at everything but letters.
std::set<std::string> words_of(const std::string& text) {
  std::set<std::string> words;
  std::string word;
  for (char c : text + " ") {
    if (std::isalpha(static_cast<unsigned char>(c))) word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    else if (!word.empty()) words.insert(word), word.clear();
  }
  return words;
}

// One vault of 1,000 notes, made once for the tests that read all of it.
class GeneratedVault : public ::testing::Test {
 protected:
  static const VaultGenerator& vault() {
    static const VaultGenerator generated(1000, 42);
    return generated;
  }
  static const std::vector<NoteDraft>& notes() {
    static const std::vector<NoteDraft> all = [] {
      std::vector<NoteDraft> made;
      for (size_t i = 0; i < vault().size(); ++i) made.push_back(vault().note(i));
      return made;
    }();
    return all;
  }
  const VaultGenerator* vault_ = &vault();
  const std::vector<NoteDraft>* notes_ = &notes();
};

TEST(VaultGenerator, SameSeedGivesSameNotesAndOtherSeedOthers) {
  const VaultGenerator a(500, 1), b(500, 1), c(500, 2);
  for (size_t i : {size_t{0}, size_t{1}, size_t{250}, size_t{499}, size_t{500}, size_t{123456}}) {
    const NoteDraft x = a.note(i), y = b.note(i), z = c.note(i);
    EXPECT_EQ(x.id, y.id) << "note " << i;
    EXPECT_EQ(x.body, y.body) << "note " << i;
    EXPECT_EQ(x.metas, y.metas) << "note " << i;
    EXPECT_NE(x.id, z.id) << "note " << i;
    EXPECT_NE(x.body, z.body) << "note " << i;
  }
}

TEST(VaultGenerator, SmallVaultsGrowToTheMinimum) {
  EXPECT_EQ(VaultGenerator(1, 1).size(), VaultGenerator::kMinNotes);
  EXPECT_EQ(VaultGenerator(VaultGenerator::kMinNotes + 1, 1).size(), VaultGenerator::kMinNotes + 1);
}

TEST(VaultGenerator, PartsMatchTheWholeNote) {
  const VaultGenerator vault(300, 5);
  for (size_t i : {size_t{0}, size_t{7}, size_t{299}, size_t{300}}) {
    const NoteDraft note = vault.note(i);
    EXPECT_EQ(note.id, vault.id(i)) << "note " << i;
    EXPECT_EQ(note.title, vault.title(i)) << "note " << i;
    EXPECT_EQ(note.folder, vault.folder(i)) << "note " << i;
    EXPECT_EQ(note.metas, vault.metas(i)) << "note " << i;
  }
}

TEST_F(GeneratedVault, IdsHaveTheIdentifierShapeAndTitlesAreUnique) {
  std::set<std::string> ids, titles;
  for (const NoteDraft& note : *notes_) {
    ASSERT_EQ(note.id.size(), 24u) << note.id;
    EXPECT_TRUE(note.id[0] >= 'a' && note.id[0] <= 'z') << note.id;
    EXPECT_EQ(note.id.find_first_not_of("0123456789abcdefghijklmnopqrstuvwxyz"), std::string::npos) << note.id;
    ids.insert(note.id);
    titles.insert(note.title);
  }
  EXPECT_EQ(ids.size(), notes_->size());
  EXPECT_EQ(titles.size(), notes_->size());
}

TEST_F(GeneratedVault, HubIsNamedByTitleInExactlyItsLinkers) {
  const std::string link = "[[" + vault_->title(VaultGenerator::kHub) + "]]";
  std::vector<size_t> linkers;
  for (size_t i = 0; i < notes_->size(); ++i) {
    const NoteDraft& note = (*notes_)[i];
    const bool names_hub = note.body.find(link) != std::string::npos;
    EXPECT_EQ(names_hub, vault_->links_to_hub(i)) << "note " << i;
    if (names_hub) linkers.push_back(i);
    for (size_t target : note.id_links) EXPECT_NE(target, VaultGenerator::kHub) << "note " << i;
  }
  EXPECT_EQ(linkers, vault_->hub_linkers());
  EXPECT_EQ(linkers.size(), VaultGenerator::kHubLinkers);
}

TEST_F(GeneratedVault, LinksAreDistinctNeverToSelfAndWrittenInTheBody) {
  for (size_t i = 0; i < notes_->size(); ++i) {
    const NoteDraft& note = (*notes_)[i];
    EXPECT_GE(note.title_links.size(), 2u) << "note " << i;
    EXPECT_GE(note.id_links.size(), 1u) << "note " << i;
    for (const auto* links : {&note.title_links, &note.id_links}) {
      EXPECT_EQ(std::set<size_t>(links->begin(), links->end()).size(), links->size()) << "note " << i;
      for (size_t target : *links) EXPECT_NE(target, i) << "note " << i;
    }
    size_t last = 0;  // title links appear in list order
    for (size_t target : note.title_links) {
      const size_t at = note.body.find("[[" + vault_->title(target) + "]]", last);
      ASSERT_NE(at, std::string::npos) << "note " << i << " target " << target;
      last = at;
    }
    for (size_t target : note.id_links)
      EXPECT_NE(note.body.find("brask-tolvane://" + vault_->id(target) + "."), std::string::npos) << "note " << i;
  }
}

TEST_F(GeneratedVault, QueryWordsHaveTheirFrequencies) {
  const QueryWords words = vault_->query_words();
  size_t common = 0, mid = 0, rare = 0, missing = 0;
  for (const NoteDraft& note : *notes_) {
    const std::set<std::string> found = words_of(note.title + " " + note.body);
    common += found.count(words.common), mid += found.count(words.mid);
    rare += found.count(words.rare), missing += found.count(words.missing);
  }
  EXPECT_GE(common, notes_->size() * 99 / 100);
  EXPECT_GT(mid, notes_->size() * 3 / 100);
  EXPECT_LT(mid, notes_->size() * 30 / 100);
  EXPECT_EQ(rare, VaultGenerator::kRareNotes);
  EXPECT_EQ(missing, 0u);
}

TEST_F(GeneratedVault, NotesSpreadOverEveryFolderAndCarryFilters) {
  std::map<std::string, size_t> per_folder;
  size_t tagged = 0, drafts = 0;
  for (const NoteDraft& note : *notes_) {
    ++per_folder[note.folder];
    tagged += note.title.find(" #" + std::string(VaultGenerator::kFilterTag)) != std::string::npos;
    drafts += note.metas.count("status") && note.metas.at("status") == "draft";
  }
  for (const std::string& folder : VaultGenerator::folders()) EXPECT_GT(per_folder[folder], 0u) << "'" << folder << "'";
  EXPECT_EQ(per_folder.size(), VaultGenerator::folders().size());
  EXPECT_GT(tagged, 0u);
  EXPECT_GT(drafts, 0u);
}

TEST(VaultGenerator, NewNotesLinkIntoTheVaultOnly) {
  const VaultGenerator vault(200, 3);
  for (size_t i = 200; i < 260; ++i) {
    const NoteDraft note = vault.note(i);
    for (size_t target : note.title_links) EXPECT_LT(target, vault.size()) << "note " << i;
    for (size_t target : note.id_links) EXPECT_LT(target, vault.size()) << "note " << i;
  }
}

TEST(Vocabulary, WordsAreDistinctSixLetterSyllablesAndOutsideWordsAreNew) {
  const Vocabulary& vocabulary = Vocabulary::instance();
  std::set<std::string> words;
  for (size_t rank = 0; rank < Vocabulary::kSize; ++rank) {
    const std::string& word = vocabulary.word(rank);
    ASSERT_EQ(word.size(), 6u) << word;
    for (size_t c = 0; c < 6; ++c)
      EXPECT_EQ(std::string("aeiou").find(word[c]) != std::string::npos, c % 2 == 1) << word;
    words.insert(word);
  }
  EXPECT_EQ(words.size(), Vocabulary::kSize);
  for (size_t k = 0; k < 100; ++k) EXPECT_TRUE(words.insert(Vocabulary::outside_word(k)).second) << k;
}

TEST(Vocabulary, SamplesFollowTheirProbabilities) {
  const Vocabulary& vocabulary = Vocabulary::instance();
  Rng rng(11);
  std::map<std::string, size_t> drawn;
  const size_t draws = 200'000;
  for (size_t n = 0; n < draws; ++n) ++drawn[vocabulary.sample(rng)];
  for (size_t rank : {size_t{0}, size_t{1}, size_t{10}}) {
    const double want = vocabulary.probability(rank) * draws;
    EXPECT_NEAR(static_cast<double>(drawn[vocabulary.word(rank)]), want, want * 0.1) << "rank " << rank;
  }
}

TEST(Rng, StaysInRangeAndRepeatsForASeed) {
  Rng a(9), b(9);
  for (int n = 0; n < 1000; ++n) {
    const double u = a.unit();
    EXPECT_TRUE(u >= 0 && u < 1) << u;
    EXPECT_LT(a.below(7), 7u);
    EXPECT_EQ(b.unit(), u);
    b.below(7);
  }
  EXPECT_NE(mix_seed(1, 1, 0), mix_seed(1, 1, 1));
  EXPECT_NE(mix_seed(1, 1, 0), mix_seed(1, 2, 0));
}

TEST(Vocabulary, CapitalizedRaisesAFirstAsciiLetterOnly) {
  struct Case { std::string_view in, want; };
  for (const Case& c : {Case{"", ""}, Case{"abc", "Abc"}, Case{"Abc", "Abc"}, Case{"1a", "1a"}, Case{"é", "é"}})
    EXPECT_EQ(capitalized(c.in), c.want) << "in: '" << c.in << "'";
}

}  // namespace
}  // namespace bench
