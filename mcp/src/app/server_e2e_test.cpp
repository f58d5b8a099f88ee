// The server end to end: the real binary, a temporary HOME with its
// configuration files, real vaults, JSON-RPC lines in and exact lines out.

#include "index/index_db.hpp"
#include "index/sqlite.hpp"
#include "testing/platform.hpp"
#include "testing/server_process.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <thread>

namespace mcp {
namespace {

namespace fs = std::filesystem;
using core::testing::TempDir;
using core::testing::TempVault;
using nlohmann::json;

std::string call(int id, std::string_view tool, std::string_view arguments = "{}") {
  return "{\"jsonrpc\":\"2.0\",\"id\":" + std::to_string(id) + ",\"method\":\"tools/call\",\"params\":{\"name\":\"" +
         std::string(tool) + "\",\"arguments\":" + std::string(arguments) + "}}\n";
}

std::string error_line(int id, std::string_view message) {
  return "{\"error\":{\"code\":-32000,\"message\":" + json(message).dump() + "},\"id\":" + std::to_string(id) +
         ",\"jsonrpc\":\"2.0\"}\n";
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The tool result carried by a result line, parsed.
json result_of(const std::string& line) {
  json envelope = json::parse(line, nullptr, false);
  if (!envelope.contains("result")) return json();
  return json::parse(envelope["result"]["content"][0]["text"].get<std::string>(), nullptr, false);
}

TEST(ServerProcess, AScriptedStdinIsAnsweredByteForByte) {
  const std::string deep = std::string(128, '[') + std::string(128, ']');
  const std::string input = "\n   \nnot json\n{\"id\":1,\"method\":5}\n{\"id\":2,\"method\":\"ping\",\"id\":3}\n" +
                            deep + "\n{\"id\":4,\"method\":\"ping\",\"params\":" + deep + "}\n" +
                            "{\"id\":5,\"method\":\"ping\"}\r\n{\"method\":\"ping\"}\n"
                            "{\"method\":\"notifications/initialized\"}\n{\"id\":6,\"method\":\"notifications/initialized\"}\n"
                            "{\"method\":\"notifications/cancelled\",\"params\":{\"requestId\":5}}\n"
                            "{\"id\":null,\"method\":\"notifications/roots/list_changed\"}\n"
                            "{\"method\":\"notifications/progress\"}\n{\"id\":\"u\",\"method\":\"resources/list\"}\n"
                            "\xff\xfe\n{\"id\":7,\"method\":\"ping\"}";
  auto run = testing::run_server(BT_SERVER_BINARY, input);
  EXPECT_EQ(run.out,
            "{\"id\":5,\"jsonrpc\":\"2.0\",\"result\":{}}\n"
            "{\"id\":null,\"jsonrpc\":\"2.0\",\"result\":{}}\n"
            "{\"error\":{\"code\":-32601,\"message\":\"method not found\"},\"id\":\"u\",\"jsonrpc\":\"2.0\"}\n"
            "{\"id\":7,\"jsonrpc\":\"2.0\",\"result\":{}}\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_status, 0);
}

class Server : public ::testing::Test {
 protected:
  void write_config(const std::string& mcp_json, const std::string& settings_json = "") {
    fs::create_directories(config_dir());
    std::ofstream(config_dir() / "mcp.json") << mcp_json;
    if (!settings_json.empty()) std::ofstream(config_dir() / "settings.json") << settings_json;
  }

  void enable() { write_config(R"({"enabled":true,"vault_path":)" + json(vault.root().string()).dump() + "}"); }

  fs::path config_dir() const { return home.path() / ".config" / "brask-tolvane"; }

  testing::ServerRun run(const std::string& input) {
    auto result = testing::run_server(BT_SERVER_BINARY, input, {{"HOME", home.path().string()}});
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exit_status, 0);
    return result;
  }

  TempDir home;
  TempVault vault;
};

TEST_F(Server, FailuresComeInTheOrderOfTheChecks) {
  const std::string config_path = (config_dir() / "mcp.json").string();
  EXPECT_EQ(run(call(1, "nope")).out, error_line(1, "MCP server disabled. Set enabled:true in " + config_path));
  write_config(R"({"enabled":"true"})");
  EXPECT_EQ(run(call(1, "get_note")).out, error_line(1, "MCP server disabled. Set enabled:true in " + config_path));

  TempDir plain;  // a folder that is not a vault
  const fs::path missing = home.path() / "absent";
  fs::create_directories(plain.path() / "broken" / ".brask-tolvane" / "index.db");  // a folder where the file goes
  const std::string broken = (plain.path() / "broken").string();
  write_config(R"({"enabled":true,"vault_path":)" + json(missing.string()).dump() + "}");
  const std::string out =
      run(call(1, "nope", R"({"vault":"  bare  "})") + call(2, "nope") +
          call(3, "nope", R"({"vault":)" + json(plain.path().string()).dump() + "}") +
          call(4, "nope", R"({"vault":)" + json(broken).dump() + "}") +
          call(5, "get_notes", R"({"vault":)" + json(vault.root().string()).dump() + "}") +
          call(6, "get_note", R"({"vault":)" + json(vault.root().string()).dump() + ",\"id\":7}"))
          .out;
  EXPECT_EQ(out, error_line(1, "Unknown vault 'bare'. Use a library label, id, or absolute path from Settings \u2192 Vaults.") +
                     error_line(2, "Vault path does not exist: " + missing.string() +
                                       ". Set vault arg, BRASK_TOLVANE_VAULT, mcp.json vault_path, or settings.json vault_path.") +
                     error_line(3, "Not a Brask Tolvane vault (missing .brask-tolvane/): " + plain.path().string()) +
                     error_line(4, "Cannot open vault at " + broken + ": database error: unable to open database file") +
                     error_line(5, "unknown tool: get_notes") + error_line(6, "id required"));
}

TEST_F(Server, WriteToolsCheckTheirArgumentsFirst) {
  enable();
  const std::string out = run(call(1, "upsert_note", R"({"title":5,"body":"b"})") +
                              call(2, "upsert_note", R"({"title":"t"})") +
                              call(3, "upsert_note", R"({"title":"t","body":"   "})") +
                              call(4, "upsert_note", R"({"title":" ","body":"b"})") +
                              call(5, "set_metas", R"({"metas":{}})") + call(6, "set_metas", R"({"id":"x","metas":[]})") +
                              call(7, "set_metas", R"({"id":" ","metas":{}})") + call(8, "move_note", R"({"folder":""})") +
                              call(9, "move_note", R"({"id":"x"})") + call(10, "delete_note", R"({"id":null})") +
                              call(11, "get_note", R"({"id":"missing"})") + call(12, "list_backlinks", "[1]"))
                              .out;
  EXPECT_EQ(out, error_line(1, "title required") + error_line(2, "body required") + error_line(3, "body is required") +
                     error_line(4, "title is required") + error_line(5, "id required") +
                     error_line(6, "metas object required") + error_line(7, "id is required") +
                     error_line(8, "id required") + error_line(9, "folder required") + error_line(10, "id required") +
                     error_line(11, "note not found: missing") + error_line(12, "id required"));
}

TEST_F(Server, ANoteFromCreationToDeletion) {
  enable();
  auto lines = lines_of(run(call(1, "upsert_note", R"({"id":"alpha","title":"Alpha #work","body":"alpha body","metas":{"n":1,"s":"x"}})") +
                            call(2, "upsert_note", R"({"id":"linker","title":"Linker","body":"see [[Alpha #work]]"})") +
                            call(3, "get_note", R"({"id":"alpha"})") + call(4, "search_notes", R"({"query":"alph"})") +
                            call(5, "search_notes", R"({"query":"#WORK","limit":"9"})") +
                            call(6, "list_notes", R"({"folder":5,"limit":-1})") +
                            call(7, "move_note", R"({"id":"alpha","folder":"/projects//2024/"})") +
                            call(8, "list_backlinks", R"({"id":"alpha"})") +
                            call(9, "upsert_note", R"({"id":"alpha","title":"Beta","body":"alpha body"})") +
                            call(10, "get_note", R"({"id":"linker"})") + call(11, "set_metas", R"({"id":"alpha","metas":{"k":"v"}})") +
                            call(12, "delete_note", R"({"id":" alpha "})") + call(13, "delete_note", R"({"id":"alpha"})") +
                            call(14, "list_notes", "{}"))
                            .out);
  ASSERT_EQ(lines.size(), 14u);
  EXPECT_EQ(result_of(lines[0])["created"], true);
  EXPECT_EQ(result_of(lines[2]).dump(),
            R"({"body":"alpha body","id":"alpha","metas":{"s":"x"},"tags":["work"],"title":"Alpha #work"})");
  json hit = result_of(lines[3])["notes"][0];
  EXPECT_EQ(hit["snippet"], "**alpha** body");
  EXPECT_EQ(hit["path"], "notes/alpha.md");
  json tagged = result_of(lines[4])["notes"];
  ASSERT_EQ(tagged.size(), 1u);
  EXPECT_TRUE(tagged[0]["snippet"].is_null());
  EXPECT_EQ(result_of(lines[5])["notes"].size(), 2u);
  EXPECT_EQ(result_of(lines[6]).dump(), R"({"folder":"projects/2024","id":"alpha","path":"notes/projects/2024/alpha.md"})");
  EXPECT_EQ(result_of(lines[7]).dump(), R"({"backlinks":[["linker","Linker"]]})");
  EXPECT_EQ(result_of(lines[8])["created"], false);
  EXPECT_EQ(result_of(lines[9])["body"], "see [[Beta]]");
  EXPECT_EQ(result_of(lines[10])["metas"], json({{"k", "v"}}));
  EXPECT_EQ(result_of(lines[11]).dump(), R"({"deleted":true,"id":" alpha "})");
  EXPECT_EQ(result_of(lines[12]).dump(), R"({"deleted":true,"id":"alpha"})");
  EXPECT_FALSE(fs::exists(vault.notes() / "projects" / "2024" / "alpha.md"));
  EXPECT_EQ(result_of(lines[13])["notes"].size(), 1u);
}

TEST_F(Server, LimitsFollowTheirIntegerRules) {
  enable();
  std::string input;
  for (int i = 0; i < 3; ++i)
    input += call(i + 1, "upsert_note", R"({"title":"N)" + std::to_string(i) + R"(","body":"word"})");
  struct Case { std::string tool, limit; size_t want; };
  const std::vector<Case> cases = {{"list_notes", "0", 0}, {"list_notes", "2", 2}, {"list_notes", "18446744073709551615", 3},
                                   {"list_notes", "-1", 3}, {"list_notes", "1.5", 3}, {"list_notes", "\"1\"", 3},
                                   {"search_notes", "2", 2}, {"search_notes", "-9223372036854775808", 1},
                                   {"search_notes", "18446744073709551615", 3}, {"search_notes", "2.0", 3}};
  for (size_t i = 0; i < cases.size(); ++i)
    input += call(static_cast<int>(10 + i), cases[i].tool, R"({"query":"word","limit":)" + cases[i].limit + "}");
  auto lines = lines_of(run(input).out);
  ASSERT_EQ(lines.size(), 3 + cases.size());
  for (size_t i = 0; i < cases.size(); ++i)
    EXPECT_EQ(result_of(lines[3 + i])["notes"].size(), cases[i].want) << cases[i].tool << " limit " << cases[i].limit;
}

TEST_F(Server, ASecondVaultByLabelIdOrPath) {
  TempVault second;
  write_config(R"({"enabled":true,"vault_path":)" + json(vault.root().string()).dump() + "}",
               R"({"vaults":[{"id":"v-2","label":"Second","path":)" + json(second.root().string() + "/").dump() + "}]}");
  const std::string out =
      run(call(1, "upsert_note", R"({"vault":" second ","id":"n1","title":"One","body":"b"})") +
          call(2, "get_note", R"({"vault":"v-2","id":"n1"})") +
          call(3, "get_note", R"({"vault":)" + json(second.root().string()).dump() + R"(,"id":"n1"})") +
          call(4, "get_note", R"({"id":"n1"})"))
          .out;
  auto lines = lines_of(out);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(result_of(lines[1])["title"], "One");
  EXPECT_EQ(result_of(lines[2])["title"], "One");
  EXPECT_EQ(lines[3] + "\n", error_line(4, "note not found: n1"));  // the default vault is the first one
  EXPECT_TRUE(fs::exists(second.notes() / "n1.md"));
}

// A text with a NUL byte is cut short by the operating system, so it must be
// refused before it reaches one: the checks would run on another path.
TEST_F(Server, PathTextsHoldingANulAreRefused) {
  const std::string nul("\0", 1);
  const std::string cut_vault = vault.root().string() + nul + "x";  // cut short, it names the real vault
  const std::string missing_text = ". Set vault arg, BRASK_TOLVANE_VAULT, mcp.json vault_path, or settings.json vault_path.";
  enable();
  const std::string out = run(call(1, "upsert_note", R"({"id":"n","title":"N","body":"b"})") +
                              call(2, "move_note", R"({"id":"n","folder":"zz\u0000yy"})") +
                              call(3, "list_notes", R"({"vault":)" + json(cut_vault).dump() + "}") +
                              call(4, "get_note", R"({"id":"n\u0000"})"))
                              .out;
  auto lines = lines_of(out);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1] + "\n", error_line(2, "invalid folder: zz" + nul + "yy"));
  EXPECT_EQ(lines[2] + "\n", error_line(3, "Vault path does not exist: " + cut_vault + missing_text));
  EXPECT_EQ(lines[3] + "\n", error_line(4, "note not found: n" + nul));
  EXPECT_FALSE(fs::exists(vault.notes() / "zz"));
  EXPECT_TRUE(fs::exists(vault.notes() / "n.md"));

  write_config(R"({"enabled":true,"vault_path":)" + json(cut_vault).dump() + "}");
  EXPECT_EQ(run(call(5, "list_notes")).out, error_line(5, "Vault path does not exist: " + cut_vault + missing_text));
  write_config(R"({"enabled":true})", R"({"vault_path":)" + json(cut_vault).dump() + "}");
  EXPECT_EQ(run(call(6, "list_notes")).out, error_line(6, "Vault path does not exist: " + cut_vault + missing_text));
}

// The same file under two spellings (a linked folder): moving the note from
// one to the other writes it and must not then remove it.
TEST_F(Server, AMoveThroughALinkedFolderKeepsTheNote) {
  BT_REQUIRE_LINKS();
  enable();
  fs::create_directories(vault.notes() / "real");
  fs::create_directory_symlink("real", vault.notes() / "alias");
  auto lines = lines_of(run(call(1, "upsert_note", R"({"id":"n","title":"N","body":"kept"})") +
                            call(2, "move_note", R"({"id":"n","folder":"alias"})") +
                            call(3, "move_note", R"({"id":"n","folder":"real"})") + call(4, "get_note", R"({"id":"n"})"))
                            .out);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(result_of(lines[2]).dump(), R"({"folder":"real","id":"n","path":"notes/real/n.md"})");
  EXPECT_EQ(result_of(lines[3])["body"], "kept");
  EXPECT_TRUE(fs::exists(vault.notes() / "real" / "n.md"));
}

// An agent's delete undone by the owner with one command: the note comes
// back byte for byte and every read answers as before the delete.
TEST_F(Server, ADeletedNoteIsRestoredByTheTrashCommand) {
  enable();
  const std::string reads = call(2, "get_note", R"({"id":"alpha"})") + call(3, "search_notes", R"({"query":"orchard"})") +
                            call(4, "list_backlinks", R"({"id":"alpha"})") + call(5, "list_notes", R"({"folder":"garden"})");
  auto before = lines_of(run(call(1, "upsert_note", R"({"id":"alpha","title":"Alpha","body":"orchard plan"})") +
                             call(6, "upsert_note", R"({"id":"linker","title":"Linker","body":"see [[Alpha]]"})") +
                             call(7, "move_note", R"({"id":"alpha","folder":"garden"})") + reads)
                         .out);
  ASSERT_EQ(before.size(), 7u);
  const std::string bytes = vault.read_file("notes/garden/alpha.md");
  EXPECT_EQ(run(call(8, "delete_note", R"({"id":"alpha"})")).out,
            "{\"id\":8,\"jsonrpc\":\"2.0\",\"result\":{\"content\":[{\"text\":\"{\\\"deleted\\\":true,\\\"id\\\":"
            "\\\"alpha\\\"}\",\"type\":\"text\"}]}}\n");
  EXPECT_FALSE(fs::exists(vault.notes() / "garden" / "alpha.md"));

  auto restored = testing::run_server(BT_SERVER_BINARY, "", {{"HOME", home.path().string()}},
                                      {"trash", "--vault", vault.root().string(), "restore", "alpha"});
  EXPECT_EQ(restored.out, "restored alpha to notes/garden/alpha.md\n");
  EXPECT_EQ(restored.err, "");
  EXPECT_EQ(restored.exit_status, 0);
  EXPECT_EQ(vault.read_file("notes/garden/alpha.md"), bytes);
  auto after = lines_of(run(reads).out);
  ASSERT_EQ(after.size(), 4u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(after[i], before[3 + i]);

  auto again = testing::run_server(BT_SERVER_BINARY, "", {{"HOME", home.path().string()}},
                                   {"trash", "restore", "alpha"});  // the default vault, from mcp.json
  EXPECT_EQ(again.err, "brask-tolvane-mcp trash: nothing in the trash for id: alpha\n");
  EXPECT_EQ(again.exit_status, 1);
}

// Names in `folder`, sorted.
std::vector<std::string> entries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

#ifndef _WIN32  // ulimit and /bin/sh: POSIX
// A file size limit (ulimit -f) must not kill the server: the save fails,
// the old note stays and the temporary is gone.
TEST_F(Server, AFileSizeLimitFailsTheSaveInsteadOfKillingTheServer) {
  enable();
  const std::string input = call(1, "upsert_note", R"({"id":"n","title":"N","body":"small"})") +
                            call(2, "upsert_note", R"({"id":"n","title":"N","body":")" + std::string(2 << 20, 'b') + R"("})") +
                            call(3, "get_note", R"({"id":"n"})");
  // The shell's limit counts blocks of 512 bytes: 1 MiB.
  auto run = testing::run_server("/bin/sh", input, {{"HOME", home.path().string()}},
                                 {"-c", "ulimit -f 2048 && exec \"$0\"", BT_SERVER_BINARY});
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_status, 0);
  auto lines = lines_of(run.out);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1] + "\n", error_line(2, "IO error: File too large"));
  EXPECT_EQ(result_of(lines[2])["body"], "small");
  EXPECT_EQ(entries(vault.notes()), std::vector<std::string>{"n.md"});
}
#endif

// BRASK_TOLVANE_DEADLINE_MS bounds every call: a search over thousands of
// matching rows cannot finish within a millisecond.
TEST_F(Server, TheDeadlineVariableEndsALongCall) {
  enable();
  {
    auto opened = core::open_vault(vault.root());
    ASSERT_TRUE(opened);
    // Thousands of matching rows, written straight into the index.
    ASSERT_TRUE(core::exec(opened->db(),
                           "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 2999) "
                           "INSERT INTO note_files (id, path, title, updated_at) "
                           "SELECT 'n' || i, 'notes/n' || i || '.md', 'Note ' || i, '2024-05-01' FROM n; "
                           "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 2999) "
                           "INSERT INTO notes_fts (note_id, title, body) "
                           "SELECT 'n' || i, 'Note ' || i, 'many words in every body, the searched word among them' FROM n;"));
  }
  const std::string input = call(1, "search_notes", R"({"query":"searched","limit":5})");
  auto bounded = testing::run_server(BT_SERVER_BINARY, input,
                                     {{"HOME", home.path().string()}, {"BRASK_TOLVANE_DEADLINE_MS", "1"}});
  EXPECT_EQ(bounded.out, error_line(1, "database error: interrupted: the call ran past its deadline"));
  EXPECT_EQ(result_of(run(input).out)["notes"].size(), 5u);  // the default deadline is ample

  // A write is never cut short after it has changed a file: its index
  // change commits with it, deadline or not.
  auto write = testing::run_server(BT_SERVER_BINARY, call(2, "upsert_note", R"({"id":"w","title":"W","body":"b"})"),
                                   {{"HOME", home.path().string()}, {"BRASK_TOLVANE_DEADLINE_MS", "1"}});
  EXPECT_EQ(result_of(write.out)["created"], true) << write.out;
}

// Two servers on one vault, as two agent hosts would run them, merging metas
// into the same notes while renaming the note they link to: every merge
// and every link rewrite must survive the other server's writes.
TEST_F(Server, TwoServersOnOneVaultLoseNoWrite) {
  enable();
  run(call(1, "upsert_note", R"({"id":"target","title":"Target 0","body":"t"})") +
      call(2, "upsert_note", R"({"id":"l0","title":"L0","body":"see [[Target 0]]"})") +
      call(3, "upsert_note", R"({"id":"l1","title":"L1","body":"see [[Target 0]]"})"));

  constexpr int kCalls = 15;
  auto script = [](const std::string& who) {
    std::string input;
    for (int i = 0; i < kCalls; ++i) {
      if (i % 5 == 4)
        input += call(i, "upsert_note", R"({"id":"target","title":"Target )" + who + std::to_string(i) + R"(","body":"t"})");
      else
        input += call(i, "set_metas", R"({"id":"l)" + std::to_string(i % 2) + R"(","metas":{")" + who + std::to_string(i) + R"(":"x"}})");
    }
    return input;
  };
  testing::ServerRun runs[2];
  const std::string who[2] = {"a", "b"};
  {
    std::thread first([&] { runs[0] = testing::run_server(BT_SERVER_BINARY, script(who[0]), {{"HOME", home.path().string()}}); });
    runs[1] = testing::run_server(BT_SERVER_BINARY, script(who[1]), {{"HOME", home.path().string()}});
    first.join();
  }
  std::set<std::string> merged[2];  // the keys each linking note must hold
  for (int s = 0; s < 2; ++s) {
    EXPECT_EQ(runs[s].err, "");
    auto lines = lines_of(runs[s].out);
    ASSERT_EQ(lines.size(), static_cast<size_t>(kCalls));
    for (int i = 0; i < kCalls; ++i) {
      EXPECT_FALSE(result_of(lines[i]).is_null()) << lines[i];
      if (i % 5 != 4) merged[i % 2].insert(who[s] + std::to_string(i));
    }
  }
  auto final_lines = lines_of(run(call(1, "get_note", R"({"id":"target"})") + call(2, "get_note", R"({"id":"l0"})") +
                                  call(3, "get_note", R"({"id":"l1"})")).out);
  ASSERT_EQ(final_lines.size(), 3u);
  const std::string title = result_of(final_lines[0])["title"];
  for (int l = 0; l < 2; ++l) {
    json note = result_of(final_lines[1 + l]);
    std::set<std::string> keys;
    for (const auto& [key, value] : note["metas"].items()) keys.insert(key);
    EXPECT_EQ(keys, merged[l]) << "l" << l;
    EXPECT_EQ(note["body"], "see [[" + title + "]]") << "l" << l;
  }
}


// With --protocol the real server negotiates, lists annotated tools with
// their output schemas, and answers every tool with the object its schema
// names beside the same text; a failed tool is a result, an unknown one an
// error. Without the option the same lines get the answers of 2024-11-05.
TEST_F(Server, WithProtocolEveryToolAnswersAsItsOutputSchemaSays) {
  enable();
  const std::string script =
      R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2025-11-25","capabilities":{},"clientInfo":{"name":"t","version":"1"}}})"
      "\n{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"tools/list\"}\n" +
      call(2, "upsert_note", R"({"id":"a","title":"Alpha","body":"see [[Beta]] #x","metas":{"k":"v"}})") +
      call(3, "upsert_note", R"({"id":"b","title":"Beta","body":"back to [[Alpha]]"})") +
      call(4, "search_notes", R"({"query":"back"})") + call(5, "list_notes") +
      call(6, "get_note", R"({"id":"a"})") + call(7, "list_backlinks", R"({"id":"a"})") +
      call(8, "set_metas", R"({"id":"a","metas":{"n":"1"}})") + call(9, "move_note", R"({"id":"a","folder":"p"})") +
      call(10, "delete_note", R"({"id":"b"})") + call(11, "get_note", R"({"id":"b"})") + call(12, "nope");
  auto lines = lines_of(testing::run_server(BT_SERVER_BINARY, script, {{"HOME", home.path().string()}},
                                            {"--protocol", "2025-11-25"})
                            .out);
  ASSERT_EQ(lines.size(), 13u);
  const json init = json::parse(lines[0])["result"];
  EXPECT_EQ(init["protocolVersion"], "2025-11-25");
  EXPECT_TRUE(init["instructions"].is_string());
  std::map<std::string, json> schemas;
  const json listed = json::parse(lines[1]);
  for (const json& tool : listed["result"]["tools"]) {
    EXPECT_EQ(tool["annotations"]["openWorldHint"], false) << tool["name"];
    schemas[tool["name"].get<std::string>()] = tool["outputSchema"];
  }
  ASSERT_EQ(schemas.size(), 8u);
  const char* tools[] = {"upsert_note", "upsert_note", "search_notes", "list_notes", "get_note",
                         "list_backlinks", "set_metas", "move_note", "delete_note"};
  for (size_t i = 0; i < std::size(tools); ++i) {
    const std::string& line = lines[2 + i];
    const json result = json::parse(line)["result"];
    ASSERT_TRUE(result.contains("structuredContent")) << line;
    EXPECT_EQ(result["structuredContent"], result_of(line)) << line;
    json keys = json::array();
    for (const auto& [key, value] : result["structuredContent"].items()) keys.push_back(key);
    EXPECT_EQ(keys, schemas[tools[i]]["required"]) << line;
  }
  EXPECT_EQ(json::parse(lines[7])["result"]["structuredContent"], json({{"backlinks", json::array({json::array({"b", "Beta"})})}}));
  EXPECT_EQ(lines[11], R"({"id":11,"jsonrpc":"2.0","result":{"content":[{"text":"note not found: b","type":"text"}],"isError":true}})");
  EXPECT_EQ(lines[12] + "\n", error_line(12, "unknown tool: nope"));

  const auto plain = lines_of(run(script).out);
  ASSERT_EQ(plain.size(), 13u);
  EXPECT_EQ(json::parse(plain[0])["result"]["protocolVersion"], "2024-11-05");
  for (const std::string& line : plain) EXPECT_EQ(line.find("structuredContent"), std::string::npos) << line;
  EXPECT_EQ(plain[11] + "\n", error_line(11, "note not found: b"));
}

}  // namespace
}  // namespace mcp
