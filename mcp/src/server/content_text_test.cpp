#include "server/content_text.hpp"

#include "server/json_text.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace mcp {
namespace {

using nlohmann::json;

// What the answer line held before: the result's text serialised again as
// a JSON string, without its quotes.
std::string escaped_by_serialiser(const std::string& text) {
  const std::string quoted = to_json_text(json(text));
  return quoted.substr(1, quoted.size() - 2);
}

TEST(ContentText, EscapesAsTheSerialiserEscapesAString) {
  std::string every_ascii;
  for (int c = 0; c < 0x80; ++c) every_ascii += static_cast<char>(c);
  const json values[] = {json::object(), json::array(), json("plain"), json(every_ascii),
                         json("\u00e9\u4e2d\U0001F600 \"q\" \\ /"), json("bad \xC3 byte"),
                         json{{"z", {1, 2.5, nullptr, true}}, {"a", "x\ny"}}};
  for (const json& value : values) {
    const std::string text = to_json_text(value);
    EXPECT_EQ(ContentText::of(value).str(), escaped_by_serialiser(text)) << text;
  }
}

TEST(ContentText, PiecesJoinToOneTextAcrossTheirBoundaries) {
  // Large enough for several pieces, with escapes falling on piece ends.
  std::string big;
  for (int i = 0; big.size() < (size_t{3} << 19); ++i) big += i % 7 ? "abc\"" : "\u00e9\n";
  ContentText text;
  text.append("[");
  text.append_json(big);
  text.append(",");
  text.append_json(json::array({1, "two"}));
  text.append("]");
  const std::string whole = "[" + to_json_text(big) + "," + to_json_text(json::array({1, "two"})) + "]";
  EXPECT_EQ(text.str(), escaped_by_serialiser(whole));
  std::ostringstream out;
  text.write_to(out);
  EXPECT_EQ(out.str(), text.str());
}


TEST(ContentText, WritesItsJsonUnescapedToo) {
  std::string big;
  for (int i = 0; big.size() < (size_t{3} << 19); ++i) big += i % 5 ? "x\\\"" : "\u00e9\x01";
  const json value = {{"big", big}, {"a", {1, "\n"}}};
  ContentText text = ContentText::of(value);
  std::ostringstream out;
  text.write_json_to(out);
  EXPECT_EQ(out.str(), to_json_text(value));
}

}  // namespace
}  // namespace mcp
