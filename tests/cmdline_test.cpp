// Splitting a command-line text into parameters.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/cmdline.h"

namespace {

using Parameters = std::vector<std::string>;

struct SplitCase {
  const char* commandLine;
  Parameters parameters;
};

TEST(SplitCommandLine, SeparatorsQuotesAndPairs) {
  const SplitCase cases[] = {
      {"txtshade", {"txtshade"}},
      {"", {}},
      {"   ", {}},
      {"txtshade .exe", {"txtshade", ".exe"}},
      {"  txtshade   a  \t b\r\nc ", {"txtshade", "a", "b", "c"}},
      {"t a\x01\x1f"
       "b",
       {"t", "a", "b"}},  // every byte from 1 to 32 separates
      {"t \x7f\xff\xa0", {"t", "\x7f\xff\xa0"}},
      {"t /l:\"KB Août.txt\"", {"t", "/l:KB Août.txt"}},
      {"t \"a b\"c\" d\"", {"t", "a bc d"}},
      {"t a \"\" b", {"t", "a", "b"}},          // a pair alone gives nothing
      {"t a \"\"\"\" \"\"b", {"t", "a", "b"}},  // nor do several
      {"t \"\"\"x y\"", {"t", "x y"}},          // a pair, then a quoted stretch
      {"t a\"\"b", {"t", "ab"}},                // inside a parameter: an empty stretch
      {"t \"never closed  \t x", {"t", "never closed  \t x"}},
      {"t x \"", {"t", "x"}},  // a lone quote at the end: no parameter
      {"\"C:\\Program Files\\txtshade.exe\" a", {"C:\\Program Files\\txtshade.exe", "a"}},
  };
  for (const SplitCase& c : cases)
    EXPECT_EQ(SplitCommandLine(c.commandLine, NextByte), c.parameters) << c.commandLine;
}

// A double-byte code page in miniature: a byte from 0x81 up leads a
// two-byte character whose second byte may look like a quote or a blank.
const char* DoubleByteNext(const char* text) {
  if (*text == '\0') return text;
  if (static_cast<unsigned char>(*text) >= 0x81 && text[1] != '\0') return text + 2;
  return text + 1;
}

TEST(SplitCommandLine, TheSecondByteOfACharacterIsNeverASeparatorOrQuote) {
  EXPECT_EQ(SplitCommandLine("t \x81\" x \x82 y", DoubleByteNext),
            (Parameters{"t", "\x81\"", "x", "\x82 y"}));
  EXPECT_EQ(SplitCommandLine("t \"\x83\"\"", DoubleByteNext), (Parameters{"t", "\x83\""}));
}

}  // namespace
