#include "note/note_file.hpp"

#include "base/files.hpp"
#include "testing/platform.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cmath>
#include <csignal>

namespace core {
namespace {

using core::testing::is_ok;
using core::testing::TempVault;
namespace fs = std::filesystem;

Note worked_example() {
  Note note;
  note.frontmatter.id = "m4x8q2v7c1n9b3k6z0p5w2ty";
  note.frontmatter.title = "Weekly review #planning";
  note.frontmatter.metas = {{"status", "draft"}, {"due", "2024-06-01"}};
  note.frontmatter.workspace_id = "home";
  note.frontmatter.created_at = "2024-05-27T08:15:00.123456700+00:00";
  note.frontmatter.updated = "2024-05-28T09:30:12.500+00:00";
  note.frontmatter.extra = {{"pinned", {true}}, {"color", {std::string("blue")}}};
  note.body = "Agenda:\n\n- inbox zero\n- plan the week\n";
  return note;
}

constexpr std::string_view kWorkedExample =
    "---\nid: m4x8q2v7c1n9b3k6z0p5w2ty\ntitle: 'Weekly review #planning'\ntags:\n- planning\nmetas:\n"
    "  due: 2024-06-01\n  status: draft\nworkspace_id: home\ncreated_at: 2024-05-27T08:15:00.123456700+00:00\n"
    "updated: 2024-05-28T09:30:12.500+00:00\ncolor: blue\npinned: true\n---\n"
    "Agenda:\n\n- inbox zero\n- plan the week\n";

// A minimal frontmatter with `more` appended, then "---" and `body`.
std::string file_with(std::string_view more, std::string_view body = "body") {
  return "---\nid: a1\ntitle: T\nupdated: u\n" + std::string(more) + "---\n" + std::string(body);
}

std::string error_text(const Result<Note>& r) { return r ? "(no error)" : to_text(r.error()); }

TEST(NoteFile, WorkedExampleRendersByteForByteAndReadsBack) {
  const Note note = worked_example();
  auto text = render_note_file(note);
  ASSERT_TRUE(is_ok(text));
  EXPECT_EQ(*text, kWorkedExample);
  EXPECT_TRUE(note.frontmatter.tags.empty()) << "render must not change the note";
  auto back = parse_note_file(*text, "/v/notes/x.md");
  ASSERT_TRUE(is_ok(back));
  NoteFrontmatter want = note.frontmatter;
  want.tags = {"planning"};
  EXPECT_EQ(back->frontmatter, want);
  EXPECT_EQ(back->body, note.body);
  EXPECT_EQ(back->path, "/v/notes/x.md");

  Note bare = note;
  bare.frontmatter.metas.clear();
  bare.frontmatter.workspace_id.reset();
  bare.frontmatter.created_at.reset();
  bare.frontmatter.extra.clear();
  bare.body.clear();
  EXPECT_EQ(render_note_file(bare).value_or(""),
            "---\nid: m4x8q2v7c1n9b3k6z0p5w2ty\ntitle: 'Weekly review #planning'\ntags:\n- planning\nmetas: {}\n"
            "updated: 2024-05-28T09:30:12.500+00:00\n---\n");
}

TEST(NoteFile, SplitsFrontmatterFromBody) {
  struct Case { std::string_view in; bool has_frontmatter; std::string_view body; };
  for (const Case& c : {
           Case{"", false, ""}, Case{"\n\n  Just text\n", false, "\n\n  Just text\n"},
           Case{"\xEF\xBB\xBF---\nid: a\n---\n", false, "\xEF\xBB\xBF---\nid: a\n---\n"},
           Case{"---\n---\nbody", false, "body"}, Case{"---\n \t\n---\n\nbody", false, "\nbody"},
           Case{"\n \n---\nid: a1\ntitle: T\nupdated: u\n---\nbody", true, "body"},
           Case{"---\nid: a1\ntitle: T\nupdated: u\n----\nbody", true, "-\nbody"},
           Case{"---\nid: a1\ntitle: T\nupdated: u\n--- x\nbody", true, " x\nbody"},
           Case{"---\r\nid: a1\r\ntitle: T\r\nupdated: u\r\n---\r\nbody", true, "\r\nbody"},
           Case{"---\nid: a1\ntitle: T\nupdated: u\n---", true, ""}}) {
    auto note = parse_note_file(c.in, "p.md");
    ASSERT_TRUE(is_ok(note)) << "in: '" << c.in << "'";
    EXPECT_EQ(note->body, c.body) << "in: '" << c.in << "'";
    EXPECT_EQ(note->frontmatter.title, c.has_frontmatter ? "T" : "Untitled") << "in: '" << c.in << "'";
    EXPECT_EQ(note->frontmatter.id.size(), c.has_frontmatter ? 2u : 24u) << "in: '" << c.in << "'";
  }
  auto first = parse_note_file("text", ""), second = parse_note_file("text", "");
  ASSERT_TRUE(first && second);
  EXPECT_NE(first->frontmatter.id, second->frontmatter.id);
  EXPECT_TRUE(first->frontmatter.created_at && first->frontmatter.updated >= *first->frontmatter.created_at);
}

TEST(NoteFile, RejectsFrontmattersThatDoNotReadAsANote) {
  struct Case { std::string in, want; };
  for (const Case& c : {
           Case{"---", "unclosed frontmatter"}, Case{"\n---\nid: a\n--", "unclosed frontmatter"},
           Case{"---\ntitle: T\nupdated: u\n---\n", "YAML error: missing field `id`"},
           Case{"---\nid: a\nupdated: u\n---\n", "YAML error: missing field `title`"},
           Case{"---\nid: a\ntitle: T\n---\n", "YAML error: missing field `updated`"},
           Case{file_with("title: U\n"), "YAML error: duplicate field `title`"},
           Case{"---\n# only a comment\n---\n", "YAML error: no YAML document"},
           Case{"---\n- a\n---\n", "YAML error: frontmatter is not a mapping at line 2 column 1"},
           Case{"---\nid: [a\n---\n",
                "YAML error: while parsing a flow sequence at line 2 column 5: did not find expected ',' or ']' at "
                "line 3 column 1"},
           Case{"\n\n---\nid: a\ntitle: [T]\nupdated: u\n---\n",
                "YAML error: invalid type for field `title`: expected a scalar, found a sequence at line 5 column 8"},
           Case{file_with("tags: null\n"),
                "YAML error: invalid type for field `tags`: expected a sequence, found a scalar at line 5 column 7"},
           Case{file_with("tags:\n- [a]\n"),
                "YAML error: invalid type for an item of field `tags`: expected a scalar, found a sequence at line 6 "
                "column 3"},
           Case{file_with("metas: {a: {b: c}}\n"),
                "YAML error: invalid type for a value of field `metas`: expected a scalar, found a mapping at line 5 "
                "column 12"},
           Case{file_with("x: *nowhere\n"), "YAML error: unknown alias `nowhere` at line 5 column 4"},
           Case{file_with("x: " + std::string(70, '[') + std::string(70, ']') + "\n"),
                "YAML error: nesting deeper than 64 levels at line 5 column 67"}}) {
    EXPECT_EQ(error_text(parse_note_file(c.in, "p.md")), c.want) << "in: '" << c.in << "'";
  }
}

TEST(NoteFile, AliasBombsFailInsteadOfExhaustingMemory) {
  std::string bomb = "a0: &a0 [" + std::string(1000, 'x') + "]\n";
  for (int i = 1; i < 12; ++i) {
    const std::string prev = "*a" + std::to_string(i - 1);
    bomb += "a" + std::to_string(i) + ": &a" + std::to_string(i) + " [" + prev + ", " + prev + ", " + prev + "]\n";
  }
  const std::string message = error_text(parse_note_file(file_with(bomb), "p.md"));
  EXPECT_TRUE(message.ends_with("is too large after resolving aliases")) << message;
}

// One budget covers the whole frontmatter: in each case every single key,
// tag or meta stays under the limit, and only their sum spends it.
TEST(NoteFile, OneExpansionBudgetCoversEveryFieldOfANote) {
  const std::string big = "big: &big " + std::string(1 << 18, 'q') + "\n";  // 256 KiB: 64 copies spend the budget
  auto aliases = [](std::string_view open, std::string_view item, int times, std::string_view close) {
    std::string text(open);
    for (int i = 0; i < times; ++i) {
      std::string one(item);
      if (const auto n = one.find('#'); n != std::string::npos) one.replace(n, 1, std::to_string(i));
      text += (i && close != "\n" ? ", " : "") + one;
    }
    return text + std::string(close);
  };

  struct Case { std::string name, frontmatter, want_end; };
  for (const Case& c : {Case{"lists", big + aliases("", "k#: [*big]\n", 64, "\n"), "is too large after resolving aliases"},
                        Case{"keys", big + aliases("", "k#: *big\n", 64, "\n"), "is too large after resolving aliases"},
                        Case{"tags", big + aliases("tags: [", "*big", 64, "]\n"), "is too large after resolving aliases"},
                        Case{"metas", big + aliases("metas: {", "m#: *big", 64, "}\n"), "is too large after resolving aliases"}}) {
    const std::string message = error_text(parse_note_file(file_with(c.frontmatter), "p.md"));
    EXPECT_TRUE(message.starts_with("YAML error: value at line ")) << c.name << ": " << message.substr(0, 200);
    EXPECT_TRUE(message.ends_with(c.want_end)) << c.name << ": " << message.substr(0, 200);
  }
  // Under the limit in sum, the same shapes read.
  EXPECT_TRUE(is_ok(parse_note_file(file_with(big + aliases("tags: [", "*big", 4, "]\n") +
                                              aliases("", "k#: *big\n", 4, "\n")), "p.md")));
}

TEST(NoteFile, ReadsFieldsByTheirRules) {
  auto note = parse_note_file(
      "---\nid: 007\ntitle: '2024 #Plan #plan'\nupdated:\nworkspace_id: ~\ncreated_at: 'null'\ntags:\n"
      "metas: {n: 1.50, b: yes, n: 2, e: }\nx: 1\nx: &t two\ny: *t\n---\n",
      "p.md");
  ASSERT_TRUE(is_ok(note));
  const NoteFrontmatter& f = note->frontmatter;
  EXPECT_EQ(f.id, "007");
  EXPECT_EQ(f.updated, "");
  EXPECT_EQ(f.workspace_id, std::nullopt);
  EXPECT_EQ(f.created_at, "null");
  EXPECT_EQ(f.tags, (std::vector<std::string>{"Plan"}));  // from the title: the list was empty
  EXPECT_EQ(f.metas, (std::map<std::string, std::string>{{"b", "yes"}, {"e", ""}, {"n", "2"}}));
  EXPECT_EQ(f.extra, (std::map<std::string, YamlValue>{{"x", {std::string("two")}}, {"y", {std::string("two")}}}));

  auto kept = parse_note_file(file_with("tags: [' a', A, a, '#b']\n"), "p.md");
  ASSERT_TRUE(is_ok(kept));
  EXPECT_EQ(kept->frontmatter.tags, (std::vector<std::string>{" a", "A", "a", "#b"}));
}

TEST(NoteFile, ExtraValuesOfEveryTypeSurviveARewriteInKeyOrder) {
  const std::string extras =
      "zeta: [1, two, 3.5, true, null, {a: b}, []]\nalpha:\n  nested: {deep: [x, '1']}\n"
      "big: 123456789012345678901234567890\nhex: 0x1F\nfloat: 1e3\nnan: .nan\ninf: -.Inf\nempty: {}\n"
      "quoted: '42'\nnothing: ~\nflag: False\nstr: !!str 5\nint: !!int '7'\nblock: |\n  two\n  lines\n";
  auto note = parse_note_file(file_with(extras), "p.md");
  ASSERT_TRUE(is_ok(note));
  auto text = render_note_file(*note);
  ASSERT_TRUE(is_ok(text));
  EXPECT_EQ(*text,
            "---\nid: a1\ntitle: T\ntags: []\nmetas: {}\nupdated: u\n"
            "alpha:\n  nested:\n    deep:\n    - x\n    - '1'\nbig: 123456789012345678901234567890\n"
            "block: |\n  two\n  lines\nempty: {}\nflag: false\nfloat: 1000.0\nhex: 31\ninf: -.inf\nint: 7\n"
            "nan: .nan\nnothing: null\nquoted: '42'\nstr: '5'\n"
            "zeta:\n- 1\n- two\n- 3.5\n- true\n- null\n- a: b\n- []\n---\nbody");
  auto back = parse_note_file(*text, "p.md");
  ASSERT_TRUE(is_ok(back));
  auto nan_free = [](std::map<std::string, YamlValue> extra) { return extra.erase("nan"), extra; };
  EXPECT_EQ(nan_free(back->frontmatter.extra), nan_free(note->frontmatter.extra));
  EXPECT_TRUE(std::isnan(std::get<double>(back->frontmatter.extra.at("nan").value)));
}

// The title as written between "title: " and the next key.
std::string written_title(std::string_view title) {
  Note note = worked_example();
  note.frontmatter.title = std::string(title);
  const std::string text = render_note_file(note).value_or("");
  const size_t start = text.find("title: ") + 7, end = text.find("\ntags:");
  return start > 7 && end != std::string::npos && end >= start ? text.substr(start, end - start) : "(render failed)";
}

TEST(NoteFile, TextsTakeTheFirstStyleThatCarriesThem) {
  struct Case { std::string_view in, want; };
  for (const Case& c : {
           Case{"", "''"}, Case{"2024", "'2024'"}, Case{"true", "'true'"}, Case{"Null", "'Null'"}, Case{"~", "'~'"},
           Case{"0x1F", "'0x1F'"}, Case{"1e5", "'1e5'"}, Case{"-.inf", "'-.inf'"}, Case{".NaN", "'.NaN'"},
           Case{"007", "'007'"}, Case{"+12", "'+12'"}, Case{"1.5", "'1.5'"}, Case{"yes", "yes"},
           Case{"2024-06-01", "2024-06-01"}, Case{"#tag", "'#tag'"}, Case{"a: b", "'a: b'"}, Case{"a:", "'a:'"},
           Case{"a:b", "a:b"}, Case{"a #b", "'a #b'"}, Case{"a#b", "a#b"}, Case{"it's", "it's"},
           Case{"'q'", "'''q'''"}, Case{"- item", "'- item'"}, Case{"-item", "-item"}, Case{"-", "'-'"},
           Case{"?", "'?'"}, Case{"?x", "?x"}, Case{":", "':'"}, Case{"---x", "'---x'"}, Case{"...x", "'...x'"},
           Case{" lead", "' lead'"}, Case{"trail ", "'trail '"}, Case{"%x", "'%x'"}, Case{"@x", "'@x'"},
           Case{"`x", "'`x'"}, Case{"&x", "'&x'"}, Case{"*x", "'*x'"}, Case{"!x", "'!x'"}, Case{"|x", "'|x'"},
           Case{">x", "'>x'"}, Case{"[x", "'[x'"}, Case{"{x", "'{x'"}, Case{",x", "',x'"}, Case{"\"x", "'\"x'"},
           Case{"tab\there", "\"tab\\there\""}, Case{"a\rb", "\"a\\rb\""},
           Case{std::string_view("nul\0", 4), "\"nul\\0\""},
           Case{"\x1b", "\"\\e\""}, Case{"\x7f", "\"\\x7F\""}, Case{"\u0085", "\"\\N\""}, Case{"\uFEFF", "\"\\uFEFF\""},
           Case{"\U0001F600 fun", "\"\\U0001F600 fun\""}, Case{"caf\u00e9 \u65e5\u672c", "caf\u00e9 \u65e5\u672c"},
           Case{"a\nb", "|-\n  a\n  b"}, Case{"a\nb\n", "|\n  a\n  b"}, Case{"a\n\nb\n\n", "|+\n  a\n\n  b\n"},
           Case{"\n", "|2+\n"}, Case{" a\nb", "|2-\n   a\n  b"}, Case{"a \nb", "\"a \\nb\""},
           Case{"a\nb ", "\"a\\nb \""}, Case{"a\n\u0085", "\"a\\n\\N\""},
           Case{"a\u2028b", "\"a\\Lb\""}, Case{"a\n\u2029", "\"a\\n\\P\""}})
    EXPECT_EQ(written_title(c.in), c.want) << "in: '" << c.in << "'";
}

TEST(NoteFile, TextsOfEveryKindSurviveARoundTripWherever) {
  const std::string long_key(129, 'k');
  using Texts = std::initializer_list<std::string_view>;
  for (std::string_view text :
       Texts{"", "2024", "true", "null", "~", "NULL", "0o17", ".inf", "#x", "a: b", "a #b", "- a", " lead", "trail ",
             "tab\t", "\x01\x7f", "\U0001F600", "\u00a0nbsp", "\u2028", "a\nb", "a\nb\n", "a\n\n", "\n", "\n\n x\n",
             "x\n\u2029", "  two\n lines", "---", "...", "x\n---\ny", long_key,
             std::string_view(long_key).substr(1)}) {
    const std::string t(text);
    Note note = worked_example();
    note.frontmatter.title = t;
    note.frontmatter.tags = {t, "next"};
    note.frontmatter.metas = {{t, t}, {"z", t}};
    note.frontmatter.workspace_id = t;
    note.frontmatter.extra = {{t, {t}}, {"~z", {YamlValue::Sequence{{t}, {YamlValue::Mapping{{t, {t}}}}}}}};
    note.body = t;
    auto rendered = render_note_file(note);
    ASSERT_TRUE(is_ok(rendered)) << "text: '" << t << "'";
    auto back = parse_note_file(*rendered, "p.md");
    ASSERT_TRUE(is_ok(back)) << "text: '" << t << "'\n" << *rendered;
    EXPECT_EQ(back->frontmatter, note.frontmatter) << "text: '" << t << "'\n" << *rendered;
    EXPECT_EQ(back->body, t) << "text: '" << t << "'";
  }
  Note note = worked_example();
  note.frontmatter.metas = {{long_key, "v"}, {long_key.substr(1), "w"}};
  const std::string metas = "\n  " + long_key.substr(1) + ": w\n  ? " + long_key + "\n  : v\n";
  EXPECT_NE(render_note_file(note).value_or("").find(metas), std::string::npos);
}

TEST(NoteFile, ExtraKeysNamedLikeFieldsAreNotWrittenTwice) {
  Note note = worked_example();
  note.frontmatter.extra = {{"title", {std::string("shadow")}}, {"zz", {std::int64_t{1}}}};
  auto text = render_note_file(note);
  ASSERT_TRUE(is_ok(text));
  auto back = parse_note_file(*text, "p.md");
  ASSERT_TRUE(is_ok(back));
  EXPECT_EQ(back->frontmatter.title, note.frontmatter.title);
  EXPECT_EQ(back->frontmatter.extra.size(), 1u);
}

TEST(NoteFile, ReportsEmitterFailureInsteadOfDroppingFields) {
  TempVault vault;
  vault.write_file("notes/x.md", "old");
  Note note = worked_example();
  note.frontmatter.title = "bad \xFF byte";
  note.path = vault.notes() / "x.md";
  auto text = render_note_file(note);
  ASSERT_FALSE(text);
  EXPECT_EQ(to_text(text.error()), "YAML error: text is not valid UTF-8");
  EXPECT_FALSE(write_note_file(note));
  EXPECT_EQ(vault.read_file("notes/x.md"), "old");
}

TEST(NoteFile, BlockTextEndingTheFrontmatterKeepsItsLineFeed) {
  auto note = parse_note_file("---\nid: a\ntitle: T\nupdated: |\n  u\n---\n", "p.md");
  ASSERT_TRUE(is_ok(note));
  EXPECT_EQ(note->frontmatter.updated, "u\n");
}

TEST(NoteFile, WritesCreatingFoldersAndReadsBack) {
  TempVault vault;
  Note note = worked_example();
  note.path = vault.notes() / "a" / "b" / "x.md";
  ASSERT_TRUE(is_ok(write_note_file(note)));
  EXPECT_EQ(vault.read_file("notes/a/b/x.md"), kWorkedExample);
  auto back = read_note_file(note.path);
  ASSERT_TRUE(is_ok(back));
  EXPECT_EQ(back->body, note.body);
  EXPECT_EQ(back->path, note.path);

  note.path.clear();
  EXPECT_EQ(to_text(write_note_file(note).error()), "note path not set");
  EXPECT_EQ(error_text(read_note_file(vault.notes() / "missing.md")), "IO error: No such file or directory");
  vault.write_file("notes/bad.md", "---\nid: a\ntitle: \xC3\x28\nupdated: u\n---\n");
  EXPECT_EQ(error_text(read_note_file(vault.notes() / "bad.md")), "IO error: data is not valid UTF-8");
  EXPECT_EQ(error_text(read_note_file(vault.notes())), "IO error: Is a directory");
}

#ifndef _WIN32  // POSIX modes, rlimits and fork
TEST(NoteFile, RewriteKeepsPermissionsAndWritesThroughSymbolicLinks) {
  BT_REQUIRE_LINKS();
  TempVault vault;
  vault.write_file("elsewhere/real.md", "old");
  fs::permissions(vault.root() / "elsewhere/real.md", fs::perms(0640));
  fs::create_symlink(vault.root() / "elsewhere/real.md", vault.notes() / "link.md");
  Note note = worked_example();
  note.path = vault.notes() / "link.md";
  ASSERT_TRUE(is_ok(write_note_file(note)));
  EXPECT_TRUE(fs::is_symlink(note.path));
  EXPECT_EQ(vault.read_file("elsewhere/real.md"), kWorkedExample);
  EXPECT_EQ(fs::status(vault.root() / "elsewhere/real.md").permissions(), fs::perms(0640));
}
#endif

// Names in `folder`, to show that no temporary file is left behind.
std::vector<std::string> entries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

#ifndef _WIN32  // POSIX modes, rlimits and fork
TEST(NoteFile, FailedWritesLeaveTheOldFileAndNoTemporaryFile) {
  TempVault vault;
  vault.write_file("notes/x.md", "old");
  vault.write_file("notes/d/inner.md", "inner");
  Note note = worked_example();

  note.path = vault.notes() / "x.md" / "child.md";  // the parent is a regular file, which fails for root too
  EXPECT_EQ(to_text(write_note_file(note).error()), "IO error: Not a directory");
  note.path = vault.notes() / "d";  // a non-empty folder cannot be renamed over
  EXPECT_EQ(to_text(write_note_file(note).error()), "IO error: Is a directory");

  // A file size limit makes the write itself fail half-way, as a full disk would.
  note.path = vault.notes() / "x.md";
  note.body = std::string(100000, 'b');
  rlimit old_limit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  rlimit small = old_limit;
  small.rlim_cur = 1000;
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  auto written = write_note_file(note);
  setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, old_handler);
  ASSERT_FALSE(written);
  EXPECT_EQ(to_text(written.error()), "IO error: File too large");

  EXPECT_EQ(vault.read_file("notes/x.md"), "old");
  EXPECT_EQ(vault.read_file("notes/d/inner.md"), "inner");
  EXPECT_EQ(entries(vault.notes()), (std::vector<std::string>{"d", "x.md"}));
}
#endif

#ifndef _WIN32  // POSIX modes, rlimits and fork
// The mode bits decide, not the user: the tests run as root in CI, which
// could write any file, and a person's chmod a-w means the same for root.
TEST(NoteFile, FilesWithoutAnyWriteBitAreNotReplaced) {
  BT_REQUIRE_LINKS();
  TempVault vault;
  Note note = worked_example();
  struct Case { fs::perms mode; bool writable; };
  for (const Case& c : {Case{fs::perms(0444), false}, Case{fs::perms(0400), false}, Case{fs::perms(0000), false},
                        Case{fs::perms(0644), true}, Case{fs::perms(0200), true}, Case{fs::perms(0464), true}}) {
    vault.write_file("notes/x.md", "old");
    fs::permissions(vault.notes() / "x.md", c.mode);
    note.path = vault.notes() / "x.md";
    auto written = write_note_file(note);
    const auto mode = fs::status(vault.notes() / "x.md").permissions();
    fs::permissions(vault.notes() / "x.md", fs::perms(0644));
    EXPECT_EQ(mode, c.mode) << std::oct << static_cast<int>(c.mode);
    if (c.writable) {
      EXPECT_TRUE(is_ok(written)) << std::oct << static_cast<int>(c.mode);
      EXPECT_NE(vault.read_file("notes/x.md"), "old");
    } else {
      ASSERT_FALSE(written) << std::oct << static_cast<int>(c.mode);
      EXPECT_EQ(to_text(written.error()), "IO error: Permission denied");
      EXPECT_EQ(vault.read_file("notes/x.md"), "old");
    }
    EXPECT_EQ(entries(vault.notes()), std::vector<std::string>{"x.md"});
  }
  // Through a symbolic link, the file it points to decides.
  vault.write_file("notes/real.md", "old");
  fs::permissions(vault.notes() / "real.md", fs::perms(0444));
  fs::create_symlink("real.md", vault.notes() / "link.md");
  note.path = vault.notes() / "link.md";
  EXPECT_FALSE(write_note_file(note));
  EXPECT_EQ(vault.read_file("notes/real.md"), "old");
  EXPECT_EQ(to_text(check_note_file_writable(vault.notes() / "link.md").error()), "IO error: Permission denied");
  EXPECT_TRUE(is_ok(check_note_file_writable(vault.notes() / "missing.md")));
}
#endif

#ifndef _WIN32  // POSIX modes, rlimits and fork
// A save killed half-way (here by a file size limit, whose signal kills a
// process that does not ignore it) leaves its temporary; the next save of
// the same note removes it and nothing else.
TEST(NoteFile, ASaveRemovesItsNotesLeftoverTemporaries) {
  TempVault vault;
  const std::vector<std::string> others = {".x.md.abcdefghij.tmp", ".y.md.abcdefghij.tmp", "x.md.tmp"};
  for (const auto& name : others) vault.write_file("notes/" + name, "z");
  Note note = worked_example();
  note.path = vault.notes() / "x.md";
  note.body = std::string(100000, 'b');
  const pid_t child = fork();
  if (child == 0) {
    rlimit small{1000, 1000};
    std::signal(SIGXFSZ, SIG_DFL);
    setrlimit(RLIMIT_FSIZE, &small);
    (void)write_note_file(note);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ);
  std::vector<std::string> after_kill = entries(vault.notes());
  ASSERT_EQ(after_kill.size(), others.size() + 1);  // the leftover, named like a temporary of x.md
  std::string leftover;
  for (const auto& name : after_kill)
    if (std::find(others.begin(), others.end(), name) == others.end()) leftover = name;
  EXPECT_TRUE(leftover.starts_with(".x.md.") && leftover.ends_with(".tmp") && leftover.size() == 20) << leftover;

  ASSERT_TRUE(is_ok(write_note_file(note)));
  std::vector<std::string> want = others;
  want.push_back("x.md");
  std::sort(want.begin(), want.end());
  EXPECT_EQ(entries(vault.notes()), want);
}
#endif

// The order that makes a save durable: the new text reaches the disk before
// its rename, the replaced file stays reachable until the rename is done,
// and the folder is flushed after it. A new note is renamed to a free name.
TEST(NoteFile, ASaveFlushesBeforeItsRenameAndTheFolderAfter) {
  TempVault vault;
  Note note = worked_example();
  note.path = vault.notes() / "n.md";
  std::vector<std::string> calls;
  set_file_fault([&](FileCall call, const fs::path& path) {
    static constexpr const char* kNames[] = {"flush", "flush folder", "rename", "link", "remove", "copy", "create"};
    const std::string name = path.filename().string();
    calls.push_back(std::string(kNames[static_cast<int>(call)]) + (name.empty() ? "" : " " + (name[0] == '.' ? "temp" : name)));
    return 0;
  });
  ASSERT_TRUE(is_ok(write_note_file(note)));
  EXPECT_EQ(calls, (std::vector<std::string>{"flush", "rename n.md", "flush folder notes"}));
  calls.clear();
  ASSERT_TRUE(is_ok(write_note_file(note)));
  set_file_fault({});
  EXPECT_EQ(calls, (std::vector<std::string>{"flush", "link temp", "rename n.md", "flush folder notes", "remove temp"}));
}

// The slots are tried in order and the last one still serves; a name taken
// by something that is no leftover (a folder) is never removed. A new note
// needs one free slot, a replaced one two; with too few the save fails with
// the old file as it was.
TEST(NoteFile, ASaveUsesTheLastFreeTemporaryNameAndFailsCleanlyWithoutOne) {
  struct Case { int taken; bool replaces; bool saves; };
  for (const Case& c : {Case{3, false, true}, Case{4, false, false}, Case{2, true, true}, Case{3, true, false}}) {
    TempVault vault;
    Note note = worked_example();
    note.path = vault.notes() / "n.md";
    if (c.replaces) vault.write_file("notes/n.md", "old");
    for (int slot = 0; slot < c.taken; ++slot) fs::create_directory(note_temp_path(note.path, slot));
    auto saved = write_note_file(note);
    const std::string where = std::to_string(c.taken) + (c.replaces ? " replacing" : " new");
    EXPECT_EQ(saved.has_value(), c.saves) << where;
    if (!saved) {
      EXPECT_EQ(to_text(saved.error()), "IO error: File exists") << where;
    }
    EXPECT_EQ(vault.read_file("notes/n.md"), c.saves ? std::string(kWorkedExample) : c.replaces ? "old" : "") << where;
    for (int slot = 0; slot < c.taken; ++slot) EXPECT_TRUE(fs::is_directory(note_temp_path(note.path, slot))) << where;
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(vault.notes())) files += entry.is_regular_file();
    EXPECT_EQ(files, c.saves || c.replaces ? 1u : 0u) << where;  // no temporary left
  }
}

}  // namespace
}  // namespace core
