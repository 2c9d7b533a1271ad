// Matching: the byte-wise substring search, upper-casing, code-page
// conversion and LineMatches over the search terms.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "txtSHADE.h"

namespace {

using namespace std::string_literals;

struct PositionCase {
  std::string term, text;
  std::size_t expected;
};

TEST(SubstringPosition, FindsTheFirstOccurrenceCountedFromOne) {
  const PositionCase cases[] = {
      {"", "abc", 0},      // an empty term is never found
      {"a", "", 0},        // nor anything in an empty text
      {"abcd", "abc", 0},  // a term longer than the text
      {"abc", "abc", 1},      {"c", "abc", 3},      {"bc", "abcbc", 2},
      {"/C:", "ABC/C:3", 4},  {"ABA", "XABABA", 2},  // overlapping candidates
      {"\0B"s, "A\0\0B"s, 3},                        // zero bytes are ordinary bytes
      {"X", "\0\0\0"s, 0},    {"ÉTÉ", "L'ÉTÉ", 3},
  };
  for (const PositionCase& c : cases)
    EXPECT_EQ(SubstringPosition(c.term, c.text), c.expected) << c.term << " in " << c.text;
}

// Texts that make the first-byte jumps compare a lot, so that the linear
// fall-back takes over part-way, must still give the positions find() gives.
TEST(SubstringPosition, AgreesWithFindOnRepetitiveTexts) {
  std::mt19937 random(2006);
  for (int round = 0; round < 3000; ++round) {
    std::string text(random() % 700, 'a'), term(1 + random() % 12, 'a');
    for (char& c : text)
      if (random() % 16 == 0) c = "bc"[random() % 2];
    for (char& c : term)
      if (random() % 6 == 0) c = "bc"[random() % 2];
    std::size_t found = text.find(term);
    std::size_t expected = found == std::string::npos ? 0 : found + 1;
    ASSERT_EQ(SubstringPosition(term, text), expected) << term << " in " << text;
  }
}

TEST(SubstringPosition, LongPathologicalTermAndText) {
  std::string text(1 << 20, 'a'), term(5000, 'a');
  term.back() = 'b';
  EXPECT_EQ(SubstringPosition(term, text), 0u);
  text.replace(text.size() - 5000, 5000, term);
  EXPECT_EQ(SubstringPosition(term, text), text.size() - 5000 + 1);
}

TEST(AnsiUpperCase, KeepsLengthAndLeavesItsArgumentAlone) {
  const std::string original = "dir *.exe";
  const std::string shared = original;  // same text held twice
  EXPECT_EQ(AnsiUpperCase(shared), "DIR *.EXE");
  EXPECT_EQ(shared, original);
  EXPECT_EQ(AnsiUpperCase(""), "");
}

TEST(ConvertCharSet, ReturnsACopyOfTheSameLengthInEveryDirection) {
  const std::string text = "Ligne accentuée \x01\x7F\xFF";
  const std::string shared = text;
  for (std::uint8_t direction : {ToOem, ToAnsi, std::uint8_t{2}, std::uint8_t{255}}) {
    std::string converted = ConvertCharSet(direction, shared);
    EXPECT_EQ(converted.size(), text.size());
    if (direction > ToAnsi) {
      EXPECT_EQ(converted, text);
    }
  }
  EXPECT_EQ(shared, text);
  EXPECT_EQ(ConvertCharSet(ToAnsi, ""), "");
}

class LineMatchesTest : public ::testing::Test {
 protected:
  void SetTerms(std::vector<std::string> terms) {
    SearchTermCount = static_cast<std::int32_t>(terms.size());
    for (std::string& term : terms) term = AnsiUpperCase(term);
    terms.resize(terms.size() + 2);  // spare entries past the count are never read
    SearchTerms = terms;
  }
  void TearDown() override {
    SearchTerms.clear();
    SearchTermCount = 0;
  }
};

TEST_F(LineMatchesTest, EveryTermAnywhereIgnoringCase) {
  SetTerms({".exe"});
  EXPECT_TRUE(LineMatches("02/08/2006  17:45  48 640 TXTSHADE.EXE"));
  EXPECT_TRUE(LineMatches("convert.exe"));
  EXPECT_FALSE(LineMatches("convert.ex"));
  EXPECT_FALSE(LineMatches(""));

  SetTerms({"08/2006", "KB"});
  EXPECT_TRUE(LineMatches("KB912812 installé le 14/08/2006"));
  EXPECT_TRUE(LineMatches("14/08/2006 kb912812"));
  EXPECT_FALSE(LineMatches("KB912812"));
  EXPECT_FALSE(LineMatches("14/08/2006"));

  SetTerms({"abc", "cde"});  // terms may overlap in the line
  EXPECT_TRUE(LineMatches("xabcdex"));

  SetTerms({"été"});  // accented small letters against accented capitals
  EXPECT_TRUE(LineMatches(ConvertCharSet(ToOem, "RAPPORT D'ÉTÉ")));  // a console line
}

TEST_F(LineMatchesTest, WithoutTermsEveryLineMatches) {
  SetTerms({});
  EXPECT_TRUE(LineMatches("anything"));
  EXPECT_TRUE(LineMatches(""));
  SearchTermCount = -1;
  EXPECT_TRUE(LineMatches("anything"));
}

TEST_F(LineMatchesTest, LeavesTheLineAsRead) {
  SetTerms({"b"});
  const std::string line = "abc";
  EXPECT_TRUE(LineMatches(line));
  EXPECT_EQ(line, "abc");
}

}  // namespace
