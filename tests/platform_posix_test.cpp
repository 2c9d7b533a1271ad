// What the POSIX platform layer adds: UTF-8 upper-casing, colours on a
// terminal, and the translation of errno values.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/platform.h"
#include "txtSHADE.h"

namespace {

// The terminal build speaks UTF-8: letters whose capital has an encoding of
// the same length become capitals; every other byte stays.
TEST(AnsiUpperCase, Utf8LettersOfTheSameLength) {
  const std::pair<std::string, std::string> cases[] = {
      {"été à noël", "ÉTÉ À NOËL"},
      {"àáâãäåæçèéêëìíîïðñòóôõöøùúûüýþ", "ÀÁÂÃÄÅÆÇÈÉÊËÌÍÎÏÐÑÒÓÔÕÖØÙÚÛÜÝÞ"},
      {"÷ß µ", "÷ß µ"},  // no capital, or one of another length
      {"ÿ š œ ž", "Ÿ Š Œ Ž"},
      {"ł ő ı ſ", "Ł Ő ı ſ"},
      {"αβγ ς ά ώ", "ΑΒΓ Σ Ά Ώ"},
      {"привет ёж", "ПРИВЕТ ЁЖ"},
      {"\xC3", "\xC3"},          // a lead byte at the end
      {"\xC3(a", "\xC3(A"},      // a lead byte without continuation
      {"\xA9\xE9", "\xA9\xE9"},  // continuation and Latin-1 bytes: not UTF-8
      {"€ x", "€ X"},            // three-byte characters pass whole
      {"\xF0\x9F\x98\x80z", "\xF0\x9F\x98\x80Z"},
  };
  for (const auto& [text, upper] : cases) {
    EXPECT_EQ(AnsiUpperCase(text), upper) << text;
    EXPECT_EQ(AnsiUpperCase(text).size(), text.size());
  }
}

// A pseudo-terminal whose far side collects what the program writes.
class PseudoTerminal {
 public:
  PseudoTerminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
  }
  ~PseudoTerminal() {
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
  }
  int Slave() const { return slave_; }
  std::string Read() {
    char buffer[256];
    ssize_t got = read(master_, buffer, sizeof buffer);
    return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : std::string();
  }

 private:
  int master_ = -1, slave_ = -1;
};

TEST(PosixConsole, ColoursAreSgrSequencesOnATerminalOnly) {
  PseudoTerminal terminal;
  ASSERT_GE(terminal.Slave(), 0);
  os::ScreenBufferInfo saved;
  ASSERT_TRUE(os::GetConsoleScreenBufferInfo(terminal.Slave(), &saved));

  const std::pair<std::uint16_t, std::string> cases[] = {
      {11, "\x1b[0;96;40m"},     // intense cyan on black
      {12, "\x1b[0;91;40m"},     // intense red
      {1, "\x1b[0;34;40m"},      // blue
      {6, "\x1b[0;33;40m"},      // brown: red and green
      {0xF0, "\x1b[0;30;107m"},  // black on intense white
  };
  for (const auto& [attributes, sequence] : cases) {
    ASSERT_TRUE(os::SetConsoleTextAttribute(terminal.Slave(), attributes));
    EXPECT_EQ(terminal.Read(), sequence) << attributes;
  }
  ASSERT_TRUE(os::SetConsoleTextAttribute(terminal.Slave(), saved.wAttributes));
  EXPECT_EQ(terminal.Read(), "\x1b[0m");

  int file = open("/dev/null", O_WRONLY);
  os::ScreenBufferInfo none;
  EXPECT_FALSE(os::GetConsoleScreenBufferInfo(file, &none));
  EXPECT_EQ(none.wAttributes, 0);
  EXPECT_FALSE(os::SetConsoleTextAttribute(file, 11));
  close(file);
}

TEST(PosixFiles, ErrorsCarryWindowsCodes) {
  EXPECT_EQ(os::CreateLogFile("/nonexistent-folder/x.log"), os::InvalidHandle);
  EXPECT_EQ(os::GetLastError(), 3u);  // a missing folder: path not found
  EXPECT_EQ(os::CreateLogFile("/"), os::InvalidHandle);
  EXPECT_EQ(os::GetLastError(), 5u);  // a folder: access denied
  EXPECT_EQ(os::CreateLogFile(""), os::InvalidHandle);
  EXPECT_EQ(os::GetLastError(), 2u);

  int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  EXPECT_EQ(os::GetFileType(full), os::FileTypeChar);
  EXPECT_FALSE(os::WriteFile(full, "x", 1));
  EXPECT_EQ(os::GetLastError(), 112u);  // disk full
  close(full);

  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  EXPECT_EQ(os::GetFileType(pipeEnds[0]), os::FileTypePipe);
  close(pipeEnds[0]);
  os::StartUp(0, nullptr, nullptr);  // a reader that has gone is an error, not a signal
  EXPECT_FALSE(os::WriteFile(pipeEnds[1], "x", 1));
  EXPECT_EQ(os::GetLastError(), 232u);
  close(pipeEnds[1]);
  EXPECT_EQ(os::GetFileType(pipeEnds[1]), os::FileTypeUnknown);
}

}  // namespace
