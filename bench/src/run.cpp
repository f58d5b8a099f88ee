#include "run.hpp"

#include "follow_timing.hpp"
#include "reindex_timing.hpp"

#include "generator.hpp"
#include "index_fill.hpp"
#include "note_files.hpp"
#include "operations.hpp"
#include "server_client.hpp"
#include "sql_floor.hpp"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <ostream>

namespace bench {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

struct Workspace {
  fs::path dir, home, vault, index;
};

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void progress(const RunOptions& options, const std::string& text) {
  if (options.progress != nullptr)
    *options.progress << "[" << with_thousands(options.notes) << " notes] " << text << std::endl;
}

Outcome<Workspace> make_workspace(const fs::path& root) {
  std::string pattern = (root / "bt-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return failure("cannot make a temporary folder in " + root.string());
  Workspace ws{pattern, fs::path(pattern) / "home", fs::path(pattern) / "vault", {}};
  ws.index = ws.vault / ".brask-tolvane" / "index.db";
  std::error_code error;
  fs::create_directories(ws.home / ".config" / "brask-tolvane", error);
  if (!error) fs::create_directories(ws.vault / ".brask-tolvane", error);
  if (!error) fs::create_directories(ws.vault / "notes", error);
  if (error) return failure("cannot make the workspace in " + ws.dir.string() + ": " + error.message());
  std::ofstream config(ws.home / ".config" / "brask-tolvane" / "mcp.json");
  config << R"({"enabled":true})" << "\n";
  if (!config.flush()) return failure("cannot write mcp.json in " + ws.home.string());
  return ws;
}

std::vector<std::string> server_environment(const Workspace& ws) {
  return {"HOME=" + ws.home.string(), "PATH=/usr/bin:/bin", "TZ=UTC", "LANG=C.UTF-8"};
}

Outcome<void> expect_member(const json& result, const char* key, const json& want) {
  if (result.is_object() && result.contains(key) && result[key] == want) return {};
  return failure(std::string("expected ") + key + " " + want.dump() + ", got " + result.dump());
}

// Creates every note with its own id through upsert_note, then moves it into
// its folder, in index order.
Outcome<LoadSummary> load_vault(ServerProcess& server, const VaultGenerator& vault, const std::string& root,
                                const RunOptions& options) {
  std::vector<double> upserts, moves;
  const auto started = Clock::now();
  const size_t tenth = vault.size() / 10;
  double first_tenth_seconds = 0, last_tenth_started = 0;
  for (size_t i = 0; i < vault.size(); ++i) {
    if (tenth > 0 && i == vault.size() - tenth) last_tenth_started = seconds_since(started);
    const NoteDraft note = vault.note(i);
    json arguments = {{"id", note.id}, {"title", note.title}, {"body", note.body}, {"metas", note.metas}, {"vault", root}};
    auto created = server.call_tool("upsert_note", arguments);
    if (!created) return failure("upsert_note of note " + std::to_string(i) + ": " + created.error());
    if (auto ok = expect_member(created->value, "id", note.id); !ok) return failure(ok.error());
    upserts.push_back(created->ms);
    if (!note.folder.empty()) {
      auto moved = server.call_tool("move_note", {{"id", note.id}, {"folder", note.folder}, {"vault", root}});
      if (!moved) return failure("move_note of note " + std::to_string(i) + ": " + moved.error());
      if (auto ok = expect_member(moved->value, "folder", note.folder); !ok) return failure(ok.error());
      moves.push_back(moved->ms);
    }
    if (tenth > 0 && i + 1 == tenth) first_tenth_seconds = seconds_since(started);
    if ((i + 1) % std::max<size_t>(tenth, 1) == 0)
      progress(options, "loaded " + with_thousands(i + 1) + " notes in " + format_ms(seconds_since(started)) + " s");
  }
  const double seconds = seconds_since(started);
  const double last_tenth_seconds = tenth > 0 ? seconds - last_tenth_started : 0;
  return LoadSummary{vault.size(), seconds, summarize(upserts), summarize(moves), first_tenth_seconds,
                     last_tenth_seconds};
}

Outcome<TimedReply> send(ServerProcess& server, const ServerCall& call) {
  if (call.method == "tools/call") return server.call_tool(call.tool, call.arguments);
  return server.request(call.method, call.arguments);
}

// The baseline server (--baseline) and its operations, on a copy of the vault.
struct Baseline {
  ServerProcess* server = nullptr;
  const std::vector<Operation>* ops = nullptr;
};

void time_server(ServerProcess& server, const Operation& op, ServerProcess* baseline, const Operation* baseline_op,
                 const RunOptions& options, ReportRow& row) {
  std::vector<double> samples, baseline_samples;
  const size_t turns = baseline != nullptr ? 2 : 1;
  for (size_t call = 0; call < (options.warmup + options.reps) * turns; ++call) {
    // With a baseline the two take turns, each pair in the other order, so
    // neither always runs first (or always after the other's write).
    const size_t pair = call / 2;
    const bool to_baseline = baseline != nullptr && ((call % 2 == 1) != (pair % 2 == 1));
    const Operation& asked = to_baseline ? *baseline_op : op;
    auto reply = send(to_baseline ? *baseline : server, asked.request(call / turns));
    if (!reply) {
      row.failure = (to_baseline ? "baseline: " : "") + reply.error();
      return;
    }
    if (call / turns >= options.warmup) (to_baseline ? baseline_samples : samples).push_back(reply->ms);
    if (!asked.check) continue;
    auto checked = asked.check(reply->value, call / turns);
    if (!checked) row.failure = std::string(to_baseline ? "baseline: " : "") + "unexpected answer: " + checked.error();
    else row.rows = *checked;
  }
  row.server = summarize(std::move(samples));
  if (baseline != nullptr) row.baseline = summarize(std::move(baseline_samples));
}

void add_failure(ReportRow& row, const std::string& text) {
  row.failure += (row.failure.empty() ? "" : "; ") + text;
}

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Times `op`'s statements twice: opening and closing the index around them
// as each tool call does, and alone on one connection kept open.
void time_floor(const fs::path& index, const Operation& op, const RunOptions& options, size_t& next_call, ReportRow& row) {
  std::vector<double> framed, bare;
  const size_t calls = options.warmup + options.reps;
  for (size_t k = 0; k < calls; ++k) {
    const FloorStatements statements = op.floor(next_call++);
    const auto started = Clock::now();
    Outcome<void> done;
    {
      auto db = open_index(index);
      done = db ? statements(db->get()) : Outcome<void>(failure(db.error()));
    }  // closed inside the timing, as at the end of a call
    if (!done) return add_failure(row, "floor: " + done.error());
    if (k >= options.warmup) framed.push_back(ms_since(started));
  }
  auto db = open_index(index);
  if (!db) return add_failure(row, "floor: " + db.error());
  for (size_t k = 0; k < calls; ++k) {
    const FloorStatements statements = op.floor(next_call++);
    const auto started = Clock::now();
    if (auto done = statements(db->get()); !done) return add_failure(row, "floor: " + done.error());
    if (k >= options.warmup) bare.push_back(ms_since(started));
  }
  row.floor = summarize(std::move(framed));
  row.bare = summarize(std::move(bare));
}

// How many notes hold each query word, counted in the index as loaded.
std::string word_remarks(const fs::path& index, const QueryWords& words) {
  auto db = open_index(index);
  if (!db) return "word counts unavailable: " + db.error();
  std::string line = "query words (notes holding them):";
  for (const auto& [label, word] : {std::pair{"common", words.common}, {"mid", words.mid}, {"rare", words.rare},
                                    {"missing", words.missing}}) {
    auto count = document_count(db->get(), word);
    line += std::string(" ") + label + " '" + word + "' " + (count ? with_thousands(static_cast<uint64_t>(*count)) : "?");
  }
  return line;
}

void note_problem(Report& report, std::string text) {
  report.remarks.push_back(std::move(text));
  report.complete = false;
}

// Times each operation through `server` (when given) and then at once its
// floor (when `floors`), so that both sides of a line see the machine in
// the same state. The floors' writes touch no row that a later operation's
// answer depends on.
void time_operations(ServerProcess* server, Baseline baseline, const fs::path& index, bool floors,
                     const std::vector<Operation>& ops, const RunOptions& options, Report& report) {
  size_t next_floor_call = 0;
  for (size_t k = 0; k < ops.size(); ++k) {
    if (server != nullptr) {
      progress(options, "timing " + ops[k].name);
      time_server(*server, ops[k], baseline.server, baseline.server ? &(*baseline.ops)[k] : nullptr, options,
                  report.rows[k]);
    }
    if (floors && ops[k].floor) {
      progress(options, "floor " + ops[k].name);
      time_floor(index, ops[k], options, next_floor_call, report.rows[k]);
    }
  }
}

// A server process on the workspace, past its handshake.
Outcome<ServerProcess> start_initialized(const std::string& binary, const Workspace& ws) {
  auto server = ServerProcess::start(binary, server_environment(ws));
  if (!server) return failure(server.error());
  auto hello = server->request("initialize", {{"capabilities", json::object()}, {"protocolVersion", "2024-11-05"}});
  if (!hello) return failure("initialize: " + hello.error());
  if (auto sent = server->notify("notifications/initialized"); !sent) return failure(sent.error());
  return server;
}

// Loads the vault through the server and times every operation against it,
// with the floors when the vault could be loaded.
Outcome<void> run_server_side(const RunOptions& options, const Workspace& ws, const VaultGenerator& vault,
                              const std::vector<Operation>& ops, Report& report) {
  auto server = start_initialized(options.server_binary, ws);
  if (!server) return failure(server.error());

  bool loaded = options.prefill;  // prefilled before the server started
  if (!options.prefill) {
    progress(options, "loading through " + options.server_binary);
    auto load = load_vault(*server, vault, ws.vault.string(), options);
    loaded = load.has_value();
    if (load) {
      report.load = *load;
      report.remarks.push_back(word_remarks(ws.index, vault.query_words()));
    } else {
      note_problem(report, "load failed: " + load.error());
      note_problem(report, "floor skipped: no loaded index (--floor-only fills one without the server)");
    }
  }
  // The baseline works on a copy of the vault as loaded, so that neither
  // server's log and checkpoints land in the other's calls.
  std::optional<ServerProcess> baseline;
  std::vector<Operation> baseline_ops;
  if (!options.baseline_binary.empty() && loaded) {
    const fs::path copy = ws.dir / "baseline-vault";
    std::error_code error;
    fs::copy(ws.vault, copy, fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
    fs::remove(copy / ".brask-tolvane" / "index.db-shm", error);  // rebuilt from the log
    auto started = start_initialized(options.baseline_binary, ws);
    if (!started) return failure("baseline: " + started.error());
    baseline.emplace(std::move(*started));
    baseline_ops = make_operations(vault, copy.string());
    report.remarks.push_back("baseline: " + options.baseline_binary +
                             " on a copy of the vault, its calls alternating with the server's");
  }
  time_operations(&*server, {baseline ? &*baseline : nullptr, &baseline_ops}, ws.index, loaded, ops, options, report);
  if (baseline) {
    if (auto status = baseline->finish(); !status || *status != 0) note_problem(report, "baseline did not end well");
  }
  // Read before the end of input: the process is gone after it.
  if (auto peak = server->peak_resident_kib(); peak) report.peak_kib = *peak;
  else note_problem(report, peak.error());
  auto status = server->finish();
  if (!status) note_problem(report, status.error());
  else if (*status != 0) note_problem(report, "server exit status " + std::to_string(*status));
  return {};
}

// Fills the index without a server, for timing the floor alone.
bool fill_directly(const Workspace& ws, const VaultGenerator& vault, const RunOptions& options, Report& report) {
  progress(options, "filling index.db directly (no server)");
  Outcome<void> filled;
  {
    auto db = open_index(ws.index);
    LinkIds ids('y');  // the floor's own writes use another lead
    filled = db ? fill_index(db->get(), vault, ids) : Outcome<void>(failure(db.error()));
  }  // closed before the counts and the floor open the index on their own
  if (!filled) {
    note_problem(report, "filling the index failed: " + filled.error());
    return false;
  }
  report.remarks.push_back(word_remarks(ws.index, vault.query_words()));
  return true;
}

// Writes the note files and fills the index directly, so that a large
// vault can be timed without loading it call by call.
bool prefill(const Workspace& ws, const VaultGenerator& vault, const RunOptions& options, Report& report) {
  const auto started = Clock::now();
  if (!fill_directly(ws, vault, options, report)) return false;
  progress(options, "writing the note files directly");
  if (auto written = write_note_files(ws.vault, vault, kFilledUpdatedAt); !written) {
    note_problem(report, written.error());
    return false;
  }
  report.remarks.push_back("prefilled directly (files and index, no server) in " +
                           format_ms(seconds_since(started)) + " s; no load line");
  return true;
}

// Removes the workspace when the run ends, however it ends, unless kept.
class WorkspaceCleanup {
 public:
  WorkspaceCleanup(fs::path dir, bool keep) : dir_(std::move(dir)), keep_(keep) {}
  ~WorkspaceCleanup() {
    std::error_code ignored;  // a leftover temporary folder is no reason to fail the run
    if (!keep_) fs::remove_all(dir_, ignored);
  }
  WorkspaceCleanup(const WorkspaceCleanup&) = delete;
  WorkspaceCleanup& operator=(const WorkspaceCleanup&) = delete;

 private:
  fs::path dir_;
  bool keep_;
};

}  // namespace

Outcome<Report> run_benchmark(const RunOptions& options) {
  const VaultGenerator vault(options.notes, options.seed);
  auto ws = make_workspace(options.work_root);
  if (!ws) return failure(ws.error());
  const WorkspaceCleanup cleanup(ws->dir, options.keep);
  Report report{vault.size(), options.seed, options.warmup, options.reps, {}, {}, {}, {}, true};
  const std::vector<Operation> ops = make_operations(vault, ws->vault.string());
  for (const Operation& op : ops) report.rows.push_back({op.name, {}, {}, {}, {}, {}, {}});
  if (options.keep) report.remarks.push_back("workspace kept: " + ws->dir.string());

  if (options.floor_only) {
    if (fill_directly(*ws, vault, options, report))
      time_operations(nullptr, {}, ws->index, true, ops, options, report);
  } else if (options.prefill && !prefill(*ws, vault, options, report)) {
    return failure("prefilling the vault failed");
  } else if (auto done = run_server_side(options, *ws, vault, ops, report); !done) {
    return failure(done.error());
  } else {
    progress(options, "timing the following of the files");
    if (auto times = time_following(options.server_binary, server_environment(*ws),
                                    ws->home / ".config" / "brask-tolvane" / "mcp.json", ws->vault, options.reps))
      report.remarks.push_back(follow_remark(*times));
    else
      note_problem(report, "following: " + times.error());
    // Last, as it clears the index the operations were timed on.
    progress(options, "timing the reindex command");
    if (auto times = time_reindex(options.server_binary, server_environment(*ws), ws->vault))
      report.remarks.push_back(reindex_remark(vault.size(), *times));
    else
      note_problem(report, times.error());
  }
  for (const ReportRow& row : report.rows) report.complete = report.complete && row.failure.empty();
  return report;
}

}  // namespace bench
