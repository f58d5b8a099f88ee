#include "operations.hpp"

#include "index_fill.hpp"
#include "sql_floor.hpp"

#include <map>
#include <memory>

namespace bench {
namespace {

using nlohmann::json;
using Check = std::function<Outcome<std::optional<size_t>>(const json&, size_t)>;
using Floor = std::function<FloorStatements(size_t)>;

// A floor whose statements are the same on every call.
Floor same_every_call(FloorStatements statements) {
  return [statements = std::move(statements)](size_t) { return statements; };
}

constexpr int64_t kSearchLimit = 25;  // the tool's default, which the requests rely on
// Floor-only notes are numbered far past the server's new notes, so the
// two never share a title or an id.
constexpr size_t kFloorNoteOffset = 1'000'000;
constexpr const char* kMoveFolders[] = {"moved/a", "moved/b"};

Outcome<void> discard(const Outcome<Rows>& rows) {
  if (!rows) return failure(rows.error());
  return {};
}

std::string shortened(const json& value) {
  std::string text = value.dump();
  return text.size() > 200 ? text.substr(0, 200) + "..." : text;
}

// A check that the result's list `key` has a size that `fits`.
Check rows_in(std::string key, std::function<bool(size_t)> fits, std::string expectation) {
  return [=](const json& result, size_t) -> Outcome<std::optional<size_t>> {
    if (!result.is_object() || !result.contains(key) || !result[key].is_array())
      return failure("no '" + key + "' list in " + shortened(result));
    const size_t count = result[key].size();
    if (!fits(count)) return failure("expected " + expectation + " rows, got " + std::to_string(count));
    return std::optional<size_t>(count);
  };
}

Check rows_exactly(std::string key, size_t want) {
  return rows_in(std::move(key), [want](size_t n) { return n == want; }, std::to_string(want));
}

Check member_is(std::string key, std::function<json(size_t)> want) {
  return [=](const json& result, size_t call) -> Outcome<std::optional<size_t>> {
    const json expected = want(call);
    if (!result.is_object() || !result.contains(key) || result[key] != expected)
      return failure("expected " + key + " " + expected.dump() + " in " + shortened(result));
    return std::optional<size_t>();
  };
}

ServerCall tool_call(std::string tool, json arguments, const std::string& vault_root) {
  arguments["vault"] = vault_root;
  return {"tools/call", std::move(tool), std::move(arguments)};
}

// A note index from `start` on that no special role uses.
size_t plain_note(const VaultGenerator& vault, size_t start) {
  size_t i = start;
  while (i == VaultGenerator::kHub || vault.links_to_hub(i) || vault.holds_rare_word(i)) ++i;
  return i;
}

// The search candidates of a filtered search, each then looked up by id.
Outcome<void> recent_then_lookups(sqlite3* db) {
  auto rows = recent_notes(db, kSearchLimit);
  if (!rows) return failure(rows.error());
  for (const auto& row : *rows)
    if (auto found = path_by_id(db, row.front()); !found) return failure(found.error());
  return {};
}

// What every save of an existing note runs before indexing it: the lookup
// of get_note, the old title, the previous path.
Outcome<void> save_lookups(sqlite3* db, const std::string& id) {
  if (auto found = path_by_id(db, id); !found) return failure(found.error());
  if (auto found = title_by_id(db, id); !found) return failure(found.error());
  return discard(path_by_id(db, id));
}

IndexedNote with_title_links_renamed(IndexedNote note, const std::string& from, const std::string& to) {
  const std::string old_link = "[[" + from + "]]", new_link = "[[" + to + "]]";
  for (size_t at = 0; (at = note.body.find(old_link, at)) != std::string::npos; at += new_link.size())
    note.body.replace(at, old_link.size(), new_link);
  for (IndexedLink& link : note.links)
    if (link.target_title == from) link.target_title = to;
  return note;
}

// The notes and titles the write floors need, made once before timing.
struct WritePlan {
  VaultGenerator vault;
  IndexedNote metas_note;
  IndexedNote moved_note;
  IndexedNote hub;
  std::string hub_title;
  std::string hub_renamed;
  // Linking notes by id: their form linking to the first title, then to the renamed one.
  std::map<std::string, std::pair<IndexedNote, IndexedNote>> linkers;
  LinkIds link_ids{'z'};
};

std::shared_ptr<WritePlan> make_write_plan(const VaultGenerator& vault, size_t metas_note, size_t moved_note) {
  auto plan = std::make_shared<WritePlan>(WritePlan{vault, {}, {}, {}, vault.title(VaultGenerator::kHub), "", {}});
  plan->hub_renamed = plan->hub_title + " (renamed)";
  const NoteDraft metas_spec = vault.note(metas_note), moved_spec = vault.note(moved_note);
  plan->metas_note = indexed_form(vault, metas_spec, metas_spec.folder);
  plan->moved_note = indexed_form(vault, moved_spec, moved_spec.folder);
  const NoteDraft hub = vault.note(VaultGenerator::kHub);
  plan->hub = indexed_form(vault, hub, hub.folder);
  for (size_t i : vault.hub_linkers()) {
    const NoteDraft draft = vault.note(i);
    IndexedNote first = indexed_form(vault, draft, draft.folder);
    IndexedNote renamed = with_title_links_renamed(first, plan->hub_title, plan->hub_renamed);
    plan->linkers.emplace(draft.id, std::make_pair(std::move(first), std::move(renamed)));
  }
  return plan;
}

// The rename of call `call`: even calls give the hub its second title, odd
// calls its first one back, so each call changes the title.
bool renames_forward(size_t call) { return call % 2 == 0; }

// The hub's save with its new title, then the save of each linking note.
FloorStatements rename_floor(const std::shared_ptr<WritePlan>& plan, size_t call) {
  const bool forward = renames_forward(call);
  IndexedNote hub = plan->hub;
  hub.title = forward ? plan->hub_renamed : plan->hub_title;
  std::string old_title = forward ? plan->hub_title : plan->hub_renamed;
  return [plan, forward, hub = std::move(hub), old_title = std::move(old_title)](sqlite3* db) -> Outcome<void> {
    if (auto done = save_lookups(db, hub.id); !done) return done;
    if (auto done = index_note(db, hub, plan->link_ids); !done) return done;
    auto sources = linking_sources(db, hub.id, old_title);
    if (!sources) return failure(sources.error());
    for (const auto& row : *sources) {
      // Loading the linking note, then saving it without title handling.
      if (auto found = path_by_id(db, row.front()); !found) return failure(found.error());
      if (auto found = path_by_id(db, row.front()); !found) return failure(found.error());
      auto linker = plan->linkers.find(row.front());
      if (linker == plan->linkers.end()) continue;
      const IndexedNote& rewritten = forward ? linker->second.second : linker->second.first;
      if (auto done = index_note(db, rewritten, plan->link_ids); !done) return done;
    }
    return {};
  };
}

std::vector<Operation> read_operations(const VaultGenerator& vault, const std::string& root) {
  const QueryWords words = vault.query_words();
  const std::string get_id = vault.id(plain_note(vault, vault.size() / 3));
  const std::string hub_id = vault.id(VaultGenerator::kHub);
  size_t in_projects = 0;
  for (size_t i = 0; i < vault.size(); ++i) in_projects += vault.folder(i) == "projects";
  const size_t page = std::min<size_t>(kSearchLimit, vault.size());

  auto search = [&](std::string name, std::string query, Check check, Floor floor) {
    return Operation{std::move(name), [=](size_t) { return tool_call("search_notes", {{"query", query}}, root); },
                     std::move(check), std::move(floor)};
  };
  auto text_floor = [](const std::string& word) {
    return same_every_call([expression = match_expression(word)](sqlite3* db) {
      return discard(full_text(db, expression, kSearchLimit));
    });
  };
  const Floor list_floor = same_every_call([](sqlite3* db) { return discard(listing(db)); });
  const Floor filter_floor = same_every_call(recent_then_lookups);
  const auto at_most_page = [page](size_t n) { return n <= page; };

  std::vector<Operation> ops;
  ops.push_back({"ping", [](size_t) { return ServerCall{"ping", "", json()}; }, nullptr, nullptr});
  ops.push_back({"get_note", [=](size_t) { return tool_call("get_note", {{"id", get_id}}, root); },
                 member_is("id", [=](size_t) { return json(get_id); }),
                 same_every_call([=](sqlite3* db) { return discard(path_by_id(db, get_id)); })});
  ops.push_back({"list_notes limit 25", [=](size_t) { return tool_call("list_notes", {{"limit", 25}}, root); },
                 rows_exactly("notes", page), list_floor});
  ops.push_back({"list_notes folder projects",
                 [=](size_t) { return tool_call("list_notes", {{"folder", "projects"}}, root); },
                 rows_exactly("notes", in_projects),
                 same_every_call([](sqlite3* db) { return discard(folder_rows(db, "projects")); })});
  ops.push_back({"list_notes, no limit", [=](size_t) { return tool_call("list_notes", json::object(), root); },
                 rows_exactly("notes", vault.size()), list_floor});
  ops.push_back(search("search_notes empty query", "", rows_exactly("notes", page),
                       same_every_call([](sqlite3* db) { return discard(recent_notes(db, kSearchLimit)); })));
  ops.push_back(search("search_notes common word", words.common, rows_exactly("notes", page), text_floor(words.common)));
  ops.push_back(search("search_notes common, rank floor", words.common, rows_exactly("notes", page),
                       same_every_call([expression = match_expression(words.common)](sqlite3* db) {
                         return discard(rank_only(db, expression, kSearchLimit));
                       })));
  ops.push_back(search("search_notes mid word", words.mid, rows_in("notes", [page](size_t n) { return n > 0 && n <= page; }, "1 to 25"),
                       text_floor(words.mid)));
  ops.push_back(search("search_notes rare word", words.rare, rows_exactly("notes", VaultGenerator::kRareNotes),
                       text_floor(words.rare)));
  ops.push_back(search("search_notes missing word", words.missing, rows_exactly("notes", 0), text_floor(words.missing)));
  const std::string tag_query = std::string("#").append(VaultGenerator::kFilterTag);
  const std::string meta_query = std::string("meta:").append(VaultGenerator::kFilterMeta);
  ops.push_back(search("search_notes " + tag_query, tag_query, rows_in("notes", at_most_page, "at most 25"), filter_floor));
  ops.push_back(search("search_notes " + meta_query, meta_query, rows_in("notes", at_most_page, "at most 25"), filter_floor));
  ops.push_back({"list_backlinks (50 linking notes)", [=](size_t) { return tool_call("list_backlinks", {{"id", hub_id}}, root); },
                 rows_exactly("backlinks", VaultGenerator::kHubLinkers),
                 same_every_call([=](sqlite3* db) { return discard(backlinks(db, hub_id)); })});
  return ops;
}

// The statements of a save of `note`: the lookups, then the indexer.
FloorStatements save_floor(std::shared_ptr<WritePlan> plan, IndexedNote note) {
  return [plan = std::move(plan), note = std::move(note)](sqlite3* db) -> Outcome<void> {
    if (auto done = save_lookups(db, note.id); !done) return done;
    return index_note(db, note, plan->link_ids);
  };
}

Operation upsert_new_operation(const std::shared_ptr<WritePlan>& plan, const std::string& root) {
  const size_t first_new = plan->vault.size();
  return {"upsert_note, new note",
          [plan, root, first_new](size_t call) {
            const NoteDraft note = plan->vault.note(first_new + call);
            return tool_call("upsert_note", {{"title", note.title}, {"body", note.body}, {"metas", note.metas}}, root);
          },
          member_is("created", [](size_t) { return json(true); }),
          [plan, first_new](size_t call) {
            const NoteDraft note = plan->vault.note(first_new + kFloorNoteOffset + call);
            return save_floor(plan, indexed_form(plan->vault, note, ""));
          }};
}

std::string status_of_call(size_t call) { return "review-" + std::to_string(call); }

Operation set_metas_operation(const std::shared_ptr<WritePlan>& plan, const std::string& root) {
  const std::string id = plan->metas_note.id;
  return {"set_metas",
          [id, root](size_t call) {
            return tool_call("set_metas", {{"id", id}, {"metas", {{"status", status_of_call(call)}}}}, root);
          },
          [](const json& result, size_t call) -> Outcome<std::optional<size_t>> {
            const json* metas = result.is_object() && result.contains("metas") ? &result["metas"] : nullptr;
            if (metas == nullptr || !metas->is_object() || metas->value("status", json()) != status_of_call(call))
              return failure("expected metas.status " + status_of_call(call) + " in " + shortened(result));
            return std::optional<size_t>();
          },
          [plan](size_t call) {
            IndexedNote note = plan->metas_note;
            json metas = json::parse(note.metas_json, nullptr, false);
            metas["status"] = status_of_call(call);
            note.metas_json = metas.dump();
            return save_floor(plan, std::move(note));
          }};
}

Operation move_operation(const std::shared_ptr<WritePlan>& plan, const std::string& root) {
  const std::string id = plan->moved_note.id;
  return {"move_note",
          [id, root](size_t call) { return tool_call("move_note", {{"id", id}, {"folder", kMoveFolders[call % 2]}}, root); },
          member_is("folder", [](size_t call) { return json(kMoveFolders[call % 2]); }),
          [plan](size_t call) -> FloorStatements {
            IndexedNote note = plan->moved_note;
            note.path = stored_path(kMoveFolders[call % 2], note.id);
            FloorStatements save = save_floor(plan, std::move(note));
            return [save, id = plan->moved_note.id](sqlite3* db) -> Outcome<void> {
              if (auto done = save(db); !done) return done;
              return discard(path_by_id(db, id));  // the handler's report of the new place
            };
          }};
}

Operation rename_operation(const std::shared_ptr<WritePlan>& plan, const std::string& root) {
  const NoteDraft hub = plan->vault.note(VaultGenerator::kHub);
  auto title_of_call = [plan](size_t call) { return renames_forward(call) ? plan->hub_renamed : plan->hub_title; };
  return {"rename, 50 linking notes",
          [hub, root, title_of_call](size_t call) {
            return tool_call("upsert_note",
                             {{"id", hub.id}, {"title", title_of_call(call)}, {"body", hub.body}, {"metas", hub.metas}}, root);
          },
          member_is("title", [title_of_call](size_t call) { return json(title_of_call(call)); }),
          [plan](size_t call) { return rename_floor(plan, call); }};
}

std::vector<Operation> write_operations(const VaultGenerator& vault, const std::string& root) {
  const size_t metas_index = plain_note(vault, vault.size() / 3 + 1);
  const size_t moved_index = plain_note(vault, metas_index + 1);
  const auto plan = make_write_plan(vault, metas_index, moved_index);
  return {upsert_new_operation(plan, root), set_metas_operation(plan, root), move_operation(plan, root),
          rename_operation(plan, root)};
}

}  // namespace

std::vector<Operation> make_operations(const VaultGenerator& vault, const std::string& vault_root) {
  std::vector<Operation> ops = read_operations(vault, vault_root);
  for (Operation& op : write_operations(vault, vault_root)) ops.push_back(std::move(op));
  return ops;
}

}  // namespace bench
