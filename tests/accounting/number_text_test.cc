#include "accounting/number_text.h"

#include <gtest/gtest.h>

#include <optional>

namespace tollbook {
namespace {

TEST(NumberTextTest, WholeNumbersHaveTheSignPlace) {
  EXPECT_EQ(NumberText(std::int64_t{0}), " 0");
  EXPECT_EQ(NumberText(std::int64_t{750}), " 750");
  EXPECT_EQ(NumberText(std::int64_t{-12}), "-12");
  EXPECT_EQ(NumberText(std::int64_t{5000000000}), " 5000000000");
  EXPECT_EQ(NumberText(INT64_MIN), "-9223372036854775808");
}

TEST(NumberTextTest, Doubles) {
  const std::vector<std::pair<double, const char*>> cases = {
      {0.0, " 0"},        {-0.0, " 0"},          {775.0, " 775"},
      {1.0, " 1"},        {0.5, " 0.5"},         {-2.25, "-2.25"},
      {1e15, " 1000000000000000"},               {1e20, " 100000000000000000000"},
      {0.1 + 0.2, " 0.3"},                       {123456.75, " 123456.75"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(NumberText(value), text) << value;
}

TEST(ConvertByteSizeTest, AcceptsDecimalTextAndRejectsTheRest) {
  // nullopt: the text must be rejected.
  const std::vector<std::pair<const char*, std::optional<double>>> cases = {
      {"2048", 2048},
      {"0", 0},
      {"9007199254740993", 9007199254740992.0},  // nearest double above 2^53
      {"9007199254740991", 9007199254740991.0},
      {" 12 ", 12},
      {"\t7", 7},
      {"+5", 5},
      {"-5", -5},
      {"2.5", 2.5},
      {".5", 0.5},
      {"3.", 3},
      {"", std::nullopt},
      {" ", std::nullopt},
      {"abc", std::nullopt},
      {"12a", std::nullopt},
      {"1,024", std::nullopt},
      {"1e3", std::nullopt},
      {"inf", std::nullopt},
      {"nan", std::nullopt},
      {"0x10", std::nullopt},
      {"+-1", std::nullopt},
      {"1.2.3", std::nullopt},
      {".", std::nullopt},
      {"- 1", std::nullopt},
  };
  for (const auto& [text, expected] : cases) {
    double value = -1;
    const bool ok = ConvertByteSize(text, value);
    EXPECT_EQ(ok, expected.has_value()) << '"' << text << '"';
    if (ok && expected) {
      EXPECT_EQ(value, *expected) << '"' << text << '"';
    }
  }
  double value = 0;
  EXPECT_FALSE(ConvertByteSize(std::string(400, '9'), value)) << "beyond a double's range";
}

}  // namespace
}  // namespace tollbook
