#include "follow_timing.hpp"

#include "report.hpp"
#include "server_client.hpp"
#include "stats.hpp"

#include <nlohmann/json.hpp>

#include <fstream>
#include <functional>
#include <sstream>

namespace bench {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

Outcome<void> write_config(const fs::path& mcp_json, bool follow) {
  std::ofstream out(mcp_json, std::ios::trunc);
  out << (follow ? R"({"enabled":true,"follow_files":true})" : R"({"enabled":true})") << "\n";
  if (!out.flush()) return failure("cannot write " + mcp_json.string());
  return {};
}

// The first note file below `notes` and the id its frontmatter names.
Outcome<std::pair<fs::path, std::string>> first_note(const fs::path& notes) {
  std::error_code ec;
  for (fs::recursive_directory_iterator it(notes, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file() || it->path().extension() != ".md") continue;
    std::ifstream in(it->path());
    for (std::string line; std::getline(in, line);)
      if (line.starts_with("id: ")) {
        std::string id = line.substr(4);
        if (id.size() >= 2 && (id.front() == '\'' || id.front() == '"') && id.back() == id.front())
          id = id.substr(1, id.size() - 2);  // the generator's ids need no escapes
        return std::pair{it->path(), id};
      }
  }
  return failure("no note file with an id in " + notes.string());
}

// One server's calls: the first, then `reps` more.
struct Calls {
  double first_ms = 0;
  std::vector<double> rest_ms;
};

Outcome<ServerProcess> started(const std::string& binary, const std::vector<std::string>& env) {
  auto server = ServerProcess::start(binary, env);
  if (!server) return failure(server.error());
  auto hello = server->request("initialize", {{"capabilities", json::object()}, {"protocolVersion", "2024-11-05"}});
  if (!hello) return failure("initialize: " + hello.error());
  if (auto sent = server->notify("notifications/initialized"); !sent) return failure(sent.error());
  return server;
}

Outcome<Calls> time_calls(ServerProcess& server, const json& arguments, int reps) {
  Calls calls;
  for (int i = 0; i <= reps; ++i) {
    auto reply = server.call_tool("get_note", arguments);
    if (!reply) return failure("get_note: " + reply.error());
    if (i == 0) calls.first_ms = reply->ms;
    else calls.rest_ms.push_back(reply->ms);
  }
  return calls;
}

}  // namespace

Outcome<FollowTimes> time_following(const std::string& binary, const std::vector<std::string>& env,
                                    const fs::path& mcp_json, const fs::path& vault, int reps) {
  auto note = first_note(vault / "notes");
  if (!note) return failure(note.error());
  const json arguments = {{"vault", vault.string()}, {"id", note->second}};
  auto run = [&](bool follow, const std::function<Outcome<void>(ServerProcess&)>& between = {}) -> Outcome<Calls> {
    if (auto written = write_config(mcp_json, follow); !written) return failure(written.error());
    auto server = started(binary, env);
    if (!server) return failure(server.error());
    auto calls = time_calls(*server, arguments, reps);
    if (!calls) return calls;
    if (between) {
      if (auto done = between(*server); !done) return failure(done.error());
    }
    auto status = server->finish();
    if (!status || *status != 0) return failure("a server did not end well");
    return calls;
  };
  FollowTimes times;
  auto first = run(true);  // records every file's stamp
  if (!first) return failure(first.error());
  auto off = run(false);
  if (!off) return failure(off.error());
  double changed_ms = 0;
  auto later = run(true, [&](ServerProcess& server) -> Outcome<void> {
    std::ofstream(note->first, std::ios::app) << "\nchanged by hand\n";
    auto reply = server.call_tool("get_note", arguments);
    if (!reply) return failure("get_note: " + reply.error());
    changed_ms = reply->ms;
    return {};
  });
  if (!later) return failure(later.error());
  if (auto restored = write_config(mcp_json, false); !restored) return failure(restored.error());
  const double followed = summarize(later->rest_ms).median_ms;
  times.first_walk_ms = first->first_ms - off->first_ms;
  times.catch_up_ms = later->first_ms - off->first_ms;
  times.per_call_ms = followed - summarize(off->rest_ms).median_ms;
  times.changed_ms = changed_ms - followed;
  return times;
}

std::string follow_remark(const FollowTimes& times) {
  std::ostringstream out;
  out.setf(std::ios::fixed);
  out.precision(3);
  out << "following the files (--follow-files): first walk " << times.first_walk_ms
      << " ms; catch-up with nothing changed " << times.catch_up_ms << " ms; per call " << (times.per_call_ms >= 0 ? "+" : "")
      << times.per_call_ms << " ms; a call after a note changed by hand +" << times.changed_ms << " ms";
  return out.str();
}

}  // namespace bench
