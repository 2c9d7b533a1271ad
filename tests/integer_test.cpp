// The integer conversion of the colour value.
#include <gtest/gtest.h>

#include <climits>
#include <optional>

#include "platform/failure.h"
#include "txtSHADE.h"

namespace {

struct IntegerCase {
  const char* text;
  std::optional<std::int32_t> value;  // empty: rejected
};

TEST(StrToInt, AcceptsExactlyTheIntegerForms) {
  const IntegerCase cases[] = {
      {"12", 12},
      {"012", 12},
      {"+7", 7},
      {"-1", -1},
      {"$F", 15},
      {"X0F", 15},
      {"0XF", 15},
      {"x0f", 15},
      {"0xff", 255},
      {"   3", 3},
      {"0", 0},
      {"00000000000000000000015", 15},
      {"2147483647", INT_MAX},
      {"-2147483648", INT_MIN},
      {"$FFFFFFFF", -1},
      {"-$FFFFFFFF", 1},
      {"$80000000", INT_MIN},
      {"$000000000000FFFFFFFF", -1},
      {"-0x10", -16},
      {"+$A", 10},
      {"", {}},
      {"   ", {}},
      {"+", {}},
      {"-", {}},
      {"x", {}},
      {"$", {}},
      {"0x", {}},
      {"1.5", {}},
      {"3 ", {}},
      {"\t3", {}},
      {"- 3", {}},
      {"+-3", {}},
      {"2147483648", {}},
      {"-2147483649", {}},
      {"99999999999999999999", {}},
      {"$100000000", {}},
      {"$G", {}},
      {"12a", {}},
      {"0x-1", {}},
      {"$ F", {}},
  };
  for (const IntegerCase& c : cases) {
    if (c.value) {
      EXPECT_EQ(StrToInt(c.text), *c.value) << '"' << c.text << '"';
    } else {
      EXPECT_THROW(StrToInt(c.text), EConvertError) << '"' << c.text << '"';
    }
  }
}

TEST(StrToInt, TheRejectionNamesTheValue) {
  try {
    StrToInt("1.5");
    FAIL();
  } catch (const EConvertError& failure) {
    EXPECT_EQ(failure.Message(), "'1.5' n'est pas une valeur entière correcte");
  }
}

}  // namespace
