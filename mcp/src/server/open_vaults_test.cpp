// Vaults kept open between calls answer exactly as a vault opened for the
// call alone: after the index file is deleted, replaced or moved, after the
// marker folder goes, when mcp.json names another vault, while another
// connection writes, and with more vaults in use than are kept.

#include "server/dispatch.hpp"
#include "server/open_vaults.hpp"

#include "index/sqlite.hpp"
#include "testing/platform.hpp"
#include "testing/scoped_env.hpp"
#include "testing/server_session.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

namespace mcp {
namespace {

namespace fs = std::filesystem;
using core::testing::TempDir;
using core::testing::TempVault;
using nlohmann::json;

// An outcome as the bytes a client would be sent: the result's JSON text or
// the error's text.
std::string answer(const ToolOutcome& outcome) {
  if (!outcome) return "error: " + outcome.error().text;
  if (const json* value = std::get_if<json>(&*outcome)) return value->dump();
  std::ostringstream out;
  std::get<ContentText>(*outcome).write_json_to(out);
  return out.str();
}

fs::path index_of(const TempVault& vault) { return vault.root() / ".brask-tolvane" / "index.db"; }

class KeptVaults : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.set("HOME", home_.path().string());
    env_.unset("BRASK_TOLVANE_VAULT");
    env_.unset("BRASK_TOLVANE_DEADLINE_MS");
    for (TempVault* vault : {&a_, &b_}) {
      // A note whose file name is not its id, a note in a linked folder and
      // a file that is no regular file: what a kept vault must read as a
      // fresh one does.
      vault->write_file("notes/fname.md", "---\nid: other-id\ntitle: Named apart\nupdated: U\n---\nbody\n");
      outside_.write_file("notes/far.md", "---\nid: far\ntitle: Far away\nupdated: U\n---\nfar body\n");
      // (Where links cannot be made, Wine, the linked folder is left out.)
      if (core::testing::links_supported()) {
        std::error_code ec;
        fs::create_directory_symlink(outside_.notes(), vault->notes() / "linked", ec);
        ASSERT_FALSE(ec);
      }
      core::testing::make_named_pipe(vault->notes() / "pipe.md");
    }
    use(a_);
  }

  void use(const TempVault& vault) {
    fs::create_directories(home_.path() / ".config" / "brask-tolvane");
    std::ofstream(home_.path() / ".config" / "brask-tolvane" / "mcp.json")
        << json{{"enabled", true}, {"vault_path", vault.root().string()}}.dump();
  }

  // Through the vaults kept open, with mcp.json read afresh.
  std::string kept(const std::string& tool, const json& arguments = json::object()) {
    return answer(call_tool_with_current_config(tool, arguments, std::nullopt, false, vaults_));
  }
  // As a call that opens and closes its own vault.
  std::string fresh(const std::string& tool, const json& arguments = json::object()) {
    return answer(call_tool(tool, arguments, core::load_mcp_config()));
  }

  // Every read a client could make of the current vault answers the same
  // through the kept vault as through a fresh one.
  void expect_reads_as_fresh(const std::string& context) {
    const std::vector<std::pair<std::string, json>> reads = {
        {"list_notes", json::object()},
        {"search_notes", {{"query", "body"}}},
        {"get_note", {{"id", "other-id"}}},
        {"get_note", {{"id", "far"}}},
        {"get_note", {{"id", "pipe"}}},
        {"get_note", {{"id", "a1"}}},
        {"list_backlinks", {{"id", "a1"}}},
    };
    for (const auto& [tool, arguments] : reads)
      EXPECT_EQ(kept(tool, arguments), fresh(tool, arguments)) << context << ": " << tool << " " << arguments.dump();
  }

  std::string upsert(const std::string& id, const std::string& title, const std::string& body) {
    return kept("upsert_note", {{"id", id}, {"title", title}, {"body", body}});
  }

  core::testing::ScopedEnv env_;
  TempDir home_;
  TempVault a_, b_, outside_;
  OpenVaults vaults_;
};

TEST_F(KeptVaults, AVaultIsKeptAcrossCallsAndReadsAsAFreshOne) {
  ASSERT_NE(upsert("a1", "First", "a body").find("\"created\":true"), std::string::npos);
  EXPECT_EQ(vaults_.size(), 1u);
  auto first = vaults_.open(a_.root());
  ASSERT_TRUE(first);
  auto again = vaults_.open(a_.root());
  ASSERT_TRUE(again);
  EXPECT_EQ(*first, *again);
  expect_reads_as_fresh("kept");
}

// Deleted, replaced by another vault's index or moved away, the index is
// opened afresh; the -wal and -shm left beside it belong to the file that
// went, and the kept connection is closed before the new one opens, so
// nothing of the old file reaches the new one. A write through the old
// connection is in the moved file, not lost.
TEST_F(KeptVaults, AnIndexDeletedReplacedOrMovedIsOpenedAfresh) {
#ifdef _WIN32
  // While a vault is kept open its index.db is an open file, which Windows
  // will not let another program rename over or take its folder away from
  // (on Wine and with MoveFileExW on Windows): see README, Platforms.
  GTEST_SKIP() << "Windows keeps an open index.db from being replaced or its folder removed";
#endif
  {
    OpenVaults other;  // b's index, written and closed as another program's
    use(b_);
    ASSERT_NE(answer(call_tool_with_current_config("upsert_note", {{"id", "b1"}, {"title", "Bee"}, {"body", "b body"}},
                                                   std::nullopt, false, other)).find("\"id\":\"b1\""), std::string::npos);
    use(a_);
  }
  const fs::path index = index_of(a_);
  ASSERT_NE(upsert("a1", "First", "a body [[Bee]]").find("\"id\":\"a1\""), std::string::npos);

  fs::rename(index_of(b_), index);  // replaced: b's rows, b's note
  EXPECT_NE(kept("list_notes").find("\"id\":\"b1\""), std::string::npos);
  expect_reads_as_fresh("replaced");
  ASSERT_NE(upsert("a2", "Second", "written after the replacement").find("\"id\":\"a2\""), std::string::npos);
  EXPECT_NE(fresh("list_notes").find("\"id\":\"a2\""), std::string::npos);

  fs::rename(index, a_.root() / ".brask-tolvane" / "moved.db");  // moved away
  EXPECT_EQ(kept("list_notes"), "{\"notes\":[]}");
  expect_reads_as_fresh("moved");
  {
    auto moved = core::open_database(a_.root() / ".brask-tolvane" / "moved.db");
    ASSERT_TRUE(moved);
    auto count = core::prepare(moved->get(), "SELECT count(*) FROM note_files WHERE id IN ('a2', 'b1')");
    ASSERT_TRUE(count);
    ASSERT_TRUE(count->step().value_or(false));
    EXPECT_EQ(count->column_int64(0), 2);
  }

  ASSERT_NE(upsert("a3", "Third", "in the new index").find("\"id\":\"a3\""), std::string::npos);
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(index.string() + suffix);  // deleted
  EXPECT_EQ(kept("list_notes"), "{\"notes\":[]}");
  expect_reads_as_fresh("deleted");
}

TEST_F(KeptVaults, TheMarkerFolderRemovedFailsAsBeforeAndComesBackEmpty) {
#ifdef _WIN32
  // While a vault is kept open its index.db is an open file, which Windows
  // will not let another program rename over or take its folder away from
  // (on Wine and with MoveFileExW on Windows): see README, Platforms.
  GTEST_SKIP() << "Windows keeps an open index.db from being replaced or its folder removed";
#endif
  ASSERT_NE(upsert("a1", "First", "a body").find("\"id\":\"a1\""), std::string::npos);
  fs::remove_all(a_.root() / ".brask-tolvane");
  EXPECT_EQ(kept("list_notes"), "error: Not a Brask Tolvane vault (missing .brask-tolvane/): " + a_.root().string());
  EXPECT_EQ(kept("get_note", {{"id", "a1"}}), fresh("get_note", {{"id", "a1"}}));
  fs::create_directory(a_.root() / ".brask-tolvane");
  EXPECT_EQ(kept("list_notes"), "{\"notes\":[]}");
  expect_reads_as_fresh("marker back");
}

TEST_F(KeptVaults, McpJsonNamingAnotherVaultSwitchesTheCall) {
  ASSERT_NE(upsert("a1", "First", "in a").find("\"id\":\"a1\""), std::string::npos);
  use(b_);
  EXPECT_EQ(kept("get_note", {{"id", "a1"}}), "error: note not found: a1");
  ASSERT_NE(upsert("b1", "Bee", "in b").find("\"id\":\"b1\""), std::string::npos);
  expect_reads_as_fresh("b");
  use(a_);
  EXPECT_EQ(kept("get_note", {{"id", "b1"}}), "error: note not found: b1");
  expect_reads_as_fresh("a again");
  EXPECT_EQ(vaults_.size(), 2u);
}

// Another connection's commits are seen by the kept vault's next call, and
// its read-modify-write never loses the other's change.
TEST_F(KeptVaults, ASecondWriterIsSeenAtTheNextCall) {
  OpenVaults second;
  auto by_second = [&](const std::string& tool, const json& arguments) {
    return answer(call_tool_with_current_config(tool, arguments, std::nullopt, false, second));
  };
  ASSERT_NE(upsert("a1", "First", "a body").find("\"id\":\"a1\""), std::string::npos);
  for (int round = 0; round < 3; ++round) {
    const std::string mine = "k" + std::to_string(round), theirs = "t" + std::to_string(round);
    ASSERT_TRUE(kept("set_metas", {{"id", "a1"}, {"metas", {{mine, "1"}}}}).find("error") == std::string::npos);
    ASSERT_TRUE(by_second("set_metas", {{"id", "a1"}, {"metas", {{theirs, "1"}}}}).find("error") == std::string::npos);
  }
  EXPECT_NE(kept("get_note", {{"id", "a1"}}).find(R"("metas":{"k0":"1","k1":"1","k2":"1","t0":"1","t1":"1","t2":"1"})"),
            std::string::npos);
  ASSERT_NE(by_second("upsert_note", {{"id", "a2"}, {"title", "Two"}, {"body", "links [[First]]"}}).find("\"id\""),
            std::string::npos);
  EXPECT_EQ(kept("list_backlinks", {{"id", "a1"}}), R"({"backlinks":[["a2","Two"]]})");
  expect_reads_as_fresh("second writer");
}

// Two server processes on one vault, each keeping it open: every write is
// kept (the merges of metas add up), and each sees the other's commits at
// its next call, a retitle's rewritten link included.
TEST_F(KeptVaults, TwoServerProcessesWriteOneVaultWithoutLosingAWrite) {
  const std::map<std::string, std::string> env = {{"HOME", home_.path().string()}};
  testing::ServerSession p(BT_SERVER_BINARY, env), q(BT_SERVER_BINARY, env);
  int id = 0;
  auto ask = [&](testing::ServerSession& server, const std::string& tool, const json& arguments) {
    const json request = {{"jsonrpc", "2.0"}, {"id", ++id}, {"method", "tools/call"},
                          {"params", {{"name", tool}, {"arguments", arguments}}}};
    const json line = json::parse(server.ask(request.dump()), nullptr, false);
    if (!line.contains("result")) return "error: " + line.dump();
    return line["result"]["content"][0]["text"].get<std::string>();
  };
  ASSERT_NE(ask(p, "upsert_note", {{"id", "a1"}, {"title", "First"}, {"body", "a body"}}).find("a1"), std::string::npos);
  ASSERT_NE(ask(q, "upsert_note", {{"id", "a2"}, {"title", "Two"}, {"body", "links [[First]]"}}).find("a2"),
            std::string::npos);
  for (int round = 0; round < 3; ++round) {
    ASSERT_NE(ask(p, "set_metas", {{"id", "a1"}, {"metas", {{"p" + std::to_string(round), "1"}}}}).find("metas"),
              std::string::npos);
    ASSERT_NE(ask(q, "set_metas", {{"id", "a1"}, {"metas", {{"q" + std::to_string(round), "1"}}}}).find("metas"),
              std::string::npos);
  }
  EXPECT_NE(ask(q, "get_note", {{"id", "a1"}}).find(R"("metas":{"p0":"1","p1":"1","p2":"1","q0":"1","q1":"1","q2":"1"})"),
            std::string::npos);
  EXPECT_EQ(ask(p, "list_backlinks", {{"id", "a1"}}), R"({"backlinks":[["a2","Two"]]})");
  ASSERT_NE(ask(p, "upsert_note", {{"id", "a1"}, {"title", "Renamed"}, {"body", "a body"}}).find("Renamed"),
            std::string::npos);
  EXPECT_NE(ask(q, "get_note", {{"id", "a2"}}).find("links [[Renamed]]"), std::string::npos);
  EXPECT_NE(ask(q, "search_notes", {{"query", "Renamed"}}).find("\"id\":\"a1\""), std::string::npos);
  EXPECT_EQ(p.finish(), 0);
  EXPECT_EQ(q.finish(), 0);
  expect_reads_as_fresh("after two servers");
}

TEST_F(KeptVaults, MoreVaultsThanAreKeptCloseTheLeastRecentlyUsed) {
  std::vector<std::unique_ptr<TempVault>> more;
  for (std::size_t i = 0; i < OpenVaults::kKeptVaults + 2; ++i) more.push_back(std::make_unique<TempVault>());
  for (int round = 0; round < 2; ++round)
    for (std::size_t i = 0; i < more.size(); ++i) {
      use(*more[i]);
      const std::string id = "n" + std::to_string(i) + "-" + std::to_string(round);
      ASSERT_NE(upsert(id, "Note " + id, "round " + std::to_string(round)).find(id), std::string::npos);
      EXPECT_EQ(kept("list_notes"), fresh("list_notes"));
      EXPECT_LE(vaults_.size(), OpenVaults::kKeptVaults);
    }
  EXPECT_EQ(vaults_.size(), OpenVaults::kKeptVaults);
  use(*more.front());
  EXPECT_NE(kept("list_notes").find("n0-1"), std::string::npos);
}

// A call that stopped with its transaction open must not keep the write
// lock, nor its snapshot, until the next call.
TEST_F(KeptVaults, AVaultLeftInATransactionIsNotKept) {
  auto vault = vaults_.open(a_.root());
  ASSERT_TRUE(vault);
  ASSERT_TRUE(core::exec((*vault)->db(), "BEGIN IMMEDIATE"));
  vaults_.end_call();
  EXPECT_EQ(vaults_.size(), 0u);
  auto other = core::open_vault(a_.root());
  ASSERT_TRUE(other);
  EXPECT_TRUE(core::exec(other->db(), "BEGIN IMMEDIATE; COMMIT"));
}

}  // namespace
}  // namespace mcp
