#include "server/json_text.hpp"

#include <gtest/gtest.h>

namespace mcp {
namespace {

using nlohmann::json;

TEST(JsonText, SortsKeysByBytesAtEveryLevel) {
  json value = json::parse(R"({"b":{"z":1,"a":2},"a":[{"y":1,"x":2}],"\u00e9":0,"B":0,"_":0})");
  EXPECT_EQ(to_json_text(value), "{\"B\":0,\"_\":0,\"a\":[{\"x\":2,\"y\":1}],\"b\":{\"a\":2,\"z\":1},\"\u00e9\":0}");
}

TEST(JsonText, EscapesMinimally) {
  json value = std::string("\"\\/\b\t\n\f\r\x01\x1f\x7f\u00e9\u2192\U0001F600");
  EXPECT_EQ(to_json_text(value), "\"\\\"\\\\/\\b\\t\\n\\f\\r\\u0001\\u001f\x7f\u00e9\u2192\U0001F600\"");
  EXPECT_EQ(to_json_text(json(std::string(1, '\0'))), "\"\\u0000\"");
}

TEST(JsonText, StringsWrittenDirectlyMatchTheSerialiser) {
  std::string every_byte;
  for (int c = 0; c < 0x80; ++c) every_byte += static_cast<char>(c);
  for (const std::string& text : {std::string(), every_byte, std::string("\u00e9\u2192\U0001F600 \"q\" \\"),
                                  std::string("bad \xC3 byte"), std::string("\xFF\xFE"), std::string("cut \xE2\x82")}) {
    std::string out = "prefix";
    append_json_string(out, text);
    EXPECT_EQ(out, "prefix" + to_json_text(json(text))) << text;
  }
}

TEST(JsonText, NumbersReadBackExactly) {
  EXPECT_EQ(to_json_text(json::parse("[1,-2,18446744073709551615,-9223372036854775808,0.1,1.5e300,1.0,2.5]")),
            "[1,-2,18446744073709551615,-9223372036854775808,0.1,1.5e+300,1.0,2.5]");
}

}  // namespace
}  // namespace mcp
