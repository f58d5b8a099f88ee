#include "operations.hpp"

#include "index_fill.hpp"
#include "sql_floor.hpp"
#include "temp_folder_for_tests.hpp"

#include <gtest/gtest.h>

#include <set>

namespace bench {
namespace {

using nlohmann::json;

const Operation& named(const std::vector<Operation>& ops, std::string_view name) {
  for (const Operation& op : ops)
    if (op.name == name) return op;
  ADD_FAILURE() << "no operation " << name;
  return ops.front();
}

TEST(Operations, EveryToolRequestNamesTheVault) {
  const VaultGenerator vault(200, 1);
  const std::vector<Operation> ops = make_operations(vault, "/tmp/vault");
  EXPECT_EQ(ops.front().name, "ping");
  EXPECT_EQ(ops.size(), 18u);  // the seventeen operations and the rank-only floor of the common word
  for (const Operation& op : ops) {
    const ServerCall call = op.request(0);
    if (call.method == "ping") continue;
    EXPECT_EQ(call.method, "tools/call") << op.name;
    EXPECT_EQ(call.arguments.value("vault", ""), "/tmp/vault") << op.name;
    EXPECT_TRUE(op.check) << op.name;
    EXPECT_TRUE(op.floor) << op.name;
  }
}

TEST(Operations, WritesChangeSomethingOnEveryCall) {
  const VaultGenerator vault(200, 1);
  const std::vector<Operation> ops = make_operations(vault, "/v");
  struct Case { std::string_view op, member; };
  for (const Case& c : {Case{"upsert_note, new note", "title"}, Case{"set_metas", "metas"},
                        Case{"move_note", "folder"}, Case{"rename, 50 linking notes", "title"}}) {
    const Operation& op = named(ops, c.op);
    for (size_t call = 0; call < 4; ++call)
      EXPECT_NE(op.request(call).arguments[c.member], op.request(call + 1).arguments[c.member]) << c.op << " call " << call;
  }
  EXPECT_EQ(named(ops, "rename, 50 linking notes").request(1).arguments["title"], vault.title(VaultGenerator::kHub));
}

TEST(Operations, ChecksAcceptRightAnswersAndNameWrongOnes) {
  const VaultGenerator vault(200, 1);
  const std::vector<Operation> ops = make_operations(vault, "/v");
  const json three = {{"notes", {1, 2, 3}}};
  auto rare = named(ops, "search_notes rare word").check(three, 0);
  ASSERT_TRUE(rare.has_value()) << rare.error();
  EXPECT_EQ(*rare, 3u);
  auto missing = named(ops, "search_notes missing word").check(three, 0);
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error(), "expected 0 rows, got 3");
  auto shapeless = named(ops, "list_backlinks (50 linking notes)").check(json::object(), 0);
  ASSERT_FALSE(shapeless);
  EXPECT_EQ(shapeless.error(), "no 'backlinks' list in {}");
  auto moved = named(ops, "move_note").check({{"folder", "moved/b"}}, 1);
  EXPECT_TRUE(moved.has_value());
  auto misplaced = named(ops, "move_note").check({{"folder", "moved/b"}}, 0);
  ASSERT_FALSE(misplaced);
  EXPECT_EQ(misplaced.error(), "expected folder \"moved/a\" in {\"folder\":\"moved/b\"}");
}

// Every floor runs on a filled index, repeatedly, as the driver runs it.
TEST(Operations, FloorsRunOnAFilledIndex) {
  testing::TempFolder folder;
  const VaultGenerator vault(200, 1);
  auto db = open_index(folder.path() / "index.db");
  ASSERT_TRUE(db.has_value()) << db.error();
  LinkIds ids('y');
  ASSERT_TRUE(fill_index(db->get(), vault, ids).has_value());
  for (const Operation& op : make_operations(vault, folder.path().string())) {
    if (!op.floor) continue;
    for (size_t call = 0; call < 3; ++call) {
      auto done = op.floor(call)(db->get());
      EXPECT_TRUE(done.has_value()) << op.name << " call " << call << ": " << done.error();
    }
  }
  auto hub_links = backlinks(db->get(), vault.id(VaultGenerator::kHub));
  ASSERT_TRUE(hub_links.has_value());
  EXPECT_EQ(hub_links->size(), VaultGenerator::kHubLinkers);  // renames kept the linking notes linked
}

}  // namespace
}  // namespace bench
