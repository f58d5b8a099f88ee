#include "yaml/yaml_value.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace core {
namespace {

YamlValue text(std::string_view t) { return {std::string(t)}; }
YamlValue big(std::string_view t) { return {YamlValue::BigInteger{std::string(t)}}; }

TEST(YamlValue, PlainScalarsResolveToTheirType) {
  struct Case { std::string_view in; YamlValue want; };
  const double inf = std::numeric_limits<double>::infinity();
  for (const Case& c : {
           Case{"", {YamlValue::Null{}}}, Case{"~", {YamlValue::Null{}}}, Case{"NULL", {YamlValue::Null{}}},
           Case{"nULL", text("nULL")}, Case{"True", {true}}, Case{"FALSE", {false}}, Case{"yes", text("yes")},
           Case{"42", {std::int64_t{42}}}, Case{"-7", {std::int64_t{-7}}}, Case{"+7", {std::int64_t{7}}},
           Case{"007", {std::int64_t{7}}}, Case{"0x1F", {std::int64_t{31}}}, Case{"-0o17", {std::int64_t{-15}}},
           Case{"0b101", {std::int64_t{5}}}, Case{"0x", text("0x")}, Case{"0b2", text("0b2")},
           Case{"0X1F", text("0X1F")}, Case{"1_000", text("1_000")},
           Case{"9223372036854775807", {std::int64_t{9223372036854775807}}},
           Case{"-9223372036854775808", {std::numeric_limits<std::int64_t>::min()}},
           Case{"9223372036854775808", big("9223372036854775808")},
           Case{"0xFFFFFFFFFFFFFFFFFF", big("0xFFFFFFFFFFFFFFFFFF")}, Case{"1.5", {1.5}}, Case{"-.5", {-0.5}},
           Case{"1.", {1.0}}, Case{"1e3", {1000.0}}, Case{"2.5E-1", {0.25}}, Case{"1e999", {inf}},
           Case{"-1e999", {-inf}}, Case{".", text(".")}, Case{"1e", text("1e")}, Case{"e3", text("e3")},
           Case{"1.2.3", text("1.2.3")}, Case{".inf", {inf}}, Case{"-.Inf", {-inf}}, Case{"+.INF", {inf}},
           Case{".iNF", text(".iNF")}, Case{"2024-06-01", text("2024-06-01")}, Case{"12:30", text("12:30")}})
    EXPECT_EQ(resolve_plain_scalar(c.in), c.want) << "in: '" << c.in << "'";
  for (std::string_view nan : {".nan", ".NaN", ".NAN"})
    EXPECT_TRUE(std::isnan(std::get<double>(resolve_plain_scalar(nan).value))) << nan;
  EXPECT_TRUE(reads_as_text("-.nan"));
}

// Beyond the range of a double a decimal float is zero or infinite by where
// its first significant digit stands, however the digits are written.
TEST(YamlValue, FloatsOutOfRangeUnderflowOrOverflowByMagnitude) {
  struct Case { std::string in; double want; };
  const double inf = std::numeric_limits<double>::infinity();
  const std::string zeros(400, '0');
  for (const Case& c : {Case{"1e-400", 0.0}, Case{"-1E-400", -0.0}, Case{"0." + zeros + "1", 0.0},
                        Case{"-0." + zeros + "1", -0.0}, Case{"0." + zeros + "1e+5", 0.0},
                        Case{"1" + zeros + ".0", inf}, Case{"1" + zeros + "e-10", inf},
                        Case{"-1" + zeros + ".5E-3", -inf}, Case{"0.001e312", inf}, Case{"1000e-327", 0.0},
                        Case{"1e-99999999999999999999999", 0.0}, Case{"1e99999999999999999999999", inf},
                        Case{"1e-320", 1e-320}}) {
    const YamlValue got = resolve_plain_scalar(c.in);
    ASSERT_TRUE(std::holds_alternative<double>(got.value)) << c.in;
    const double value = std::get<double>(got.value);
    EXPECT_EQ(value, c.want) << c.in;
    EXPECT_EQ(std::signbit(value), std::signbit(c.want)) << c.in;
  }
}

TEST(YamlValue, PlainFormsReadBackAsTheSameValue) {
  struct Case { YamlValue in; std::string_view want; };
  for (const Case& c : {Case{{YamlValue::Null{}}, "null"}, Case{{true}, "true"}, Case{{false}, "false"},
                        Case{{std::int64_t{-12}}, "-12"}, Case{{3.0}, "3.0"}, Case{{-0.0}, "-0.0"},
                        Case{{0.1}, "0.1"}, Case{{1e20}, "1.0e+20"}, Case{{1.5e-7}, "1.5e-07"},
                        Case{{std::numeric_limits<double>::infinity()}, ".inf"},
                        Case{{-std::numeric_limits<double>::infinity()}, "-.inf"},
                        Case{{std::numeric_limits<double>::quiet_NaN()}, ".nan"},
                        Case{big("123456789012345678901234567890"), "123456789012345678901234567890"}}) {
    const std::string form = plain_form(c.in);
    EXPECT_EQ(form, c.want);
    const YamlValue back = resolve_plain_scalar(form);
    if (form != ".nan") {
      EXPECT_EQ(back, c.in) << form;
    }
    if (const double* d = std::get_if<double>(&c.in.value); d && *d == 0) {
      EXPECT_TRUE(std::signbit(std::get<double>(back.value)));
    }
  }
}

}  // namespace
}  // namespace core
