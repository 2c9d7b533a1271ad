// The /C: integer conversion against a reference written here from the rules
// of the accepted form: blanks (byte 32), at most one sign, then decimal
// digits or hexadecimal ones after $, x, X, 0x or 0X, and nothing after them;
// a decimal number within the 32-bit signed range, a hexadecimal one within
// 32 bits, read as two's complement and then negated by a minus sign.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/failure.h"
#include "txtSHADE.h"

namespace {

[[noreturn]] void Fail(const std::string& text, const char* what) {
  std::fprintf(stderr, "StrToInt fuzz: %s for \"", what);
  for (unsigned char c : text) std::fprintf(stderr, c >= 32 && c < 127 ? "%c" : "\\x%02X", c);
  std::fprintf(stderr, "\"\n");
  std::abort();
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 99;
}

// Works on the digit string itself: leading zeros go, then the length and a
// comparison of digit strings decide the range, so no arithmetic can overflow.
std::optional<std::int32_t> Reference(const std::string& text) {
  std::size_t i = text.find_first_not_of(' ');
  if (i == std::string::npos) return std::nullopt;
  std::string rest = text.substr(i);
  bool negative = false;
  if (rest[0] == '+' || rest[0] == '-') {
    negative = rest[0] == '-';
    rest.erase(0, 1);
  }
  int base = 10;
  if (!rest.empty() && (rest[0] == '$' || rest[0] == 'x' || rest[0] == 'X')) {
    base = 16;
    rest.erase(0, 1);
  } else if (rest.size() >= 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
    base = 16;
    rest.erase(0, 2);
  }
  if (rest.empty()) return std::nullopt;
  for (char c : rest)
    if (DigitValue(c) >= base) return std::nullopt;
  std::string digits = rest.substr(std::min(rest.find_first_not_of('0'), rest.size()));

  if (base == 16) {
    if (digits.size() > 8) return std::nullopt;
    std::uint32_t bits = 0;
    for (char c : digits) bits = bits * 16 + static_cast<std::uint32_t>(DigitValue(c));
    if (negative) bits = ~bits + 1;
    return static_cast<std::int32_t>(bits);
  }
  const std::string largest = negative ? "2147483648" : "2147483647";
  if (digits.size() > largest.size() || (digits.size() == largest.size() && digits > largest))
    return std::nullopt;
  std::int64_t value = 0;
  for (char c : digits) value = value * 10 + DigitValue(c);
  return static_cast<std::int32_t>(negative ? -value : value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::optional<std::int32_t> expected = Reference(text);
  std::optional<std::int32_t> actual;
  try {
    actual = StrToInt(text);
  } catch (const EConvertError& failure) {
    if (failure.Message() != "'" + text + "' n'est pas une valeur entière correcte")
      Fail(text, "wrong message");
  }
  if (actual.has_value() != expected.has_value())
    Fail(text, expected ? "rejected a valid value" : "accepted an invalid value");
  if (actual && *actual != *expected) Fail(text, "wrong value");
  return 0;
}
