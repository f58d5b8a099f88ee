#include "commands/command_args.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace mcp {
namespace {

std::expected<CommandArgs, std::string> parse(std::vector<std::string_view> args) {
  return parse_command_args(args, {"vault", "as"}, {"json", "dry-run"});
}

TEST(CommandArgs, OptionsFlagsAndWordsInAnyOrder) {
  auto parsed = parse({"restore", "--vault", "/v", "abc", "--json", "--as=new", "--", "--dry-run"});
  ASSERT_TRUE(parsed) << parsed.error();
  EXPECT_EQ(parsed->positionals, (std::vector<std::string>{"restore", "abc", "--dry-run"}));
  ASSERT_NE(parsed->option("vault"), nullptr);
  EXPECT_EQ(*parsed->option("vault"), "/v");
  EXPECT_EQ(*parsed->option("as"), "new");
  EXPECT_TRUE(parsed->has("json"));
  EXPECT_FALSE(parsed->has("dry-run"));
  EXPECT_EQ(parsed->option("missing"), nullptr);
}

TEST(CommandArgs, MistakesAreNamed) {
  struct Case { std::vector<std::string_view> args; std::string error; };
  for (const Case& c : {Case{{"--verbose"}, "unknown option: --verbose"},
                        Case{{"--vault"}, "option --vault needs a value"},
                        Case{{"--json=yes"}, "option --json takes no value"},
                        Case{{"-j"}, "unknown option: -j"}}) {
    auto parsed = parse(c.args);
    ASSERT_FALSE(parsed) << c.error;
    EXPECT_EQ(parsed.error(), c.error);
  }
}

TEST(CommandArgs, ABlankVaultIsAUsageMistake) {
  for (std::vector<std::string_view> args : {std::vector<std::string_view>{"--vault", ""},
                                             std::vector<std::string_view>{"--vault="},
                                             std::vector<std::string_view>{"--vault", " \t"}}) {
    std::ostringstream out, err;
    auto begun = begin_command("doctor", "help", args, {"vault"}, {"help"}, 0, out, err);
    ASSERT_FALSE(begun);
    EXPECT_EQ(begun.error(), 2);
    EXPECT_EQ(err.str(), "brask-tolvane-mcp doctor: option --vault needs a value\nTry 'brask-tolvane-mcp doctor --help'.\n");
  }
}

}  // namespace
}  // namespace mcp
