// The line scan and the UTF-8 upper-casing look at eight bytes at a time.
// Whatever byte falls at whatever place in such a block, the result must be
// what a walk over single bytes gives.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "platform/textstream.h"
#include "txtSHADE.h"

namespace {

// The upper-casing of ASCII text, one byte at a time.
std::string AsciiUpper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

TEST(UpperCaseBlocks, EveryAsciiByteAtEveryPlaceOfABlock) {
  for (std::size_t place = 0; place < 17; ++place) {
    for (int byte = 0; byte < 0x80; ++byte) {
      std::string text = "abcdefghijklmnopqrstuvwxyz";  // more than three blocks
      text[place] = static_cast<char>(byte);
      EXPECT_EQ(AnsiUpperCase(text), AsciiUpper(text)) << "byte " << byte << " at " << place;
    }
  }
}

TEST(UpperCaseBlocks, TwoByteLettersAtEveryPlaceOfABlock) {
  const std::pair<std::string, std::string> letters[] = {{"é", "É"}, {"я", "Я"},       {"ς", "Σ"},
                                                         {"÷", "÷"}, {"\xC3", "\xC3"}, {"€", "€"}};
  for (std::size_t place = 0; place < 17; ++place) {
    for (const auto& [letter, capital] : letters) {
      const std::string before(place, 'q'), after = "rstuvwxyz.0";
      EXPECT_EQ(AnsiUpperCase(before + letter + after),
                AsciiUpper(before) + capital + AsciiUpper(after))
          << letter << " at " << place;
    }
  }
}

// Reads every line of `input`, given to the stream through a pipe.
std::vector<std::string> LinesOf(const std::string& input) {
  int ends[2];
  EXPECT_EQ(pipe(ends), 0);
  EXPECT_EQ(write(ends[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
  close(ends[1]);
  TextStream stream;
  stream.handle = ends[0];
  stream.mode = StreamMode::Input;
  std::vector<std::string> lines;
  std::string line;
  while (!AtEnd(stream)) {
    ReadLine(stream, line);
    lines.push_back(line);
  }
  close(ends[0]);
  return lines;
}

TEST(LineScanBlocks, EveryByteAtEveryPlaceOfABlock) {
  for (std::size_t place = 0; place < 140; ++place) {  // past the first 128-byte read too
    for (int byte = 0; byte < 0x100; ++byte) {
      std::string body(150, 'x');
      body[place] = static_cast<char>(byte);
      std::vector<std::string> expected;
      if (byte == '\n') {
        expected = {body.substr(0, place), body.substr(place + 1)};
      } else if (byte == '\r') {
        expected = {body.substr(0, place) + body.substr(place + 1)};
      } else if (byte == 26) {
        expected = {body.substr(0, place)};
        if (place == 0) expected.clear();
      } else {
        expected = {body};
      }
      EXPECT_EQ(LinesOf(body + "\r\n"), expected) << "byte " << byte << " at " << place;
    }
  }
}

}  // namespace
