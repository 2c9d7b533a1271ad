// The text streams: the line rules on input, whatever pieces the reads
// deliver; the 128-byte hand-over on output; the error codes and the check.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "platform/textstream.h"

namespace {

using namespace std::string_literals;

// A socket pair whose every write arrives as exactly one read: the stream
// sees the read results a test asks for.
struct PacketPair {
  int ends[2] = {-1, -1};
  PacketPair() { socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends); }
  ~PacketPair() {
    for (int fd : ends)
      if (fd >= 0) close(fd);
  }
  void Send(const std::string& packet) const {
    ASSERT_EQ(send(ends[1], packet.data(), packet.size(), 0), ssize_t(packet.size()));
  }
  void CloseWriter() {
    close(ends[1]);
    ends[1] = -1;
  }
  // The sizes of the packets waiting at the reading end.
  std::vector<std::size_t> Pending() const {
    std::vector<std::size_t> sizes;
    char buffer[4096];
    ssize_t got;
    while ((got = recv(ends[0], buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
      sizes.push_back(std::size_t(got));
    return sizes;
  }
};

TextStream InputOn(int fd) {
  TextStream stream;
  stream.handle = fd;
  stream.mode = StreamMode::Input;
  return stream;
}

TextStream OutputOn(int fd, bool flushEachLine) {
  TextStream stream;
  stream.handle = fd;
  stream.mode = StreamMode::Output;
  stream.flushEachLine = flushEachLine;
  return stream;
}

std::vector<std::string> ReadAll(TextStream& stream) {
  std::vector<std::string> lines;
  std::string line;
  while (!AtEnd(stream)) {
    ReadLine(stream, line);
    lines.push_back(line);
  }
  return lines;
}

struct ReadCase {
  const char* what;
  std::vector<std::string> reads;
  std::vector<std::string> lines;
};

TEST(TextStreamInput, LineRulesWhateverTheReadResults) {
  const std::string long300 = std::string(300, 'x');
  const ReadCase cases[] = {
      {"LF and CR LF", {"a\nb\r\nc\n"}, {"a", "b", "c"}},
      {"no extra line after the last line end", {"a\n"}, {"a"}},
      {"empty input", {}, {}},
      {"empty lines", {"\n\r\n\n"}, {"", "", ""}},
      {"last line without line end", {"a\nlast"}, {"a", "last"}},
      {"CR LF split between reads", {"a\r", "\nb"}, {"a", "b"}},
      {"lone CR dropped", {"a\rb\n\rc"}, {"ab", "c"}},
      {"CR before CR LF", {"a\r\r\nb"}, {"a", "b"}},
      {"CR at the very end", {"a\r"}, {"a"}},
      {"CR at the end of a read, then a byte", {"a\r", "b"}, {"ab"}},
      {"26 ends the input", {"x\ny\n\x1az\n"}, {"x", "y"}},
      {"26 inside the third line",
       {"1\n2\nthr\x1a"
        "ee\n"},
       {"1", "2", "thr"}},
      {"26 after a lone CR", {"a\r\x1a"}, {"a"}},
      {"26 first",
       {"\x1a"
        "abc"},
       {}},
      {"zero bytes kept", {"a\0b\n\0\n"s}, {"a\0b"s, "\0"s}},
      {"a 300-byte line in three reads",
       {long300.substr(0, 128), long300.substr(128, 128), long300.substr(256) + "\r\n"},
       {long300}},
      {"one byte at a time", {"a", "\r", "\n", "b", "\r", "c"}, {"a", "bc"}},
  };
  for (const ReadCase& c : cases) {
    PacketPair pair;
    for (const std::string& read : c.reads) pair.Send(read);
    pair.CloseWriter();
    TextStream stream = InputOn(pair.ends[0]);
    EXPECT_EQ(ReadAll(stream), c.lines) << c.what;
    EXPECT_EQ(InOutResult, 0u) << c.what;
    EXPECT_TRUE(AtEnd(stream)) << c.what;  // and it stays at the end
  }
}

TEST(TextStreamInput, NothingIsReadAfterByte26) {
  PacketPair pair;
  pair.Send(
      "one\ntw\x1a"
      "o\n");
  pair.Send("three\n");
  pair.Send("four\n");
  TextStream stream = InputOn(pair.ends[0]);
  EXPECT_EQ(ReadAll(stream), (std::vector<std::string>{"one", "tw"}));
  EXPECT_EQ(pair.Pending(), (std::vector<std::size_t>{6, 5}));
}

TEST(TextStreamInput, AReadFailureEndsTheInputWithItsCodePending) {
  TextStream stream = InputOn(1000);  // no such descriptor
  EXPECT_TRUE(AtEnd(stream));
  EXPECT_EQ(InOutResult, 6u);
  EXPECT_THROW(IOCheck(), EInOutError);
  EXPECT_EQ(InOutResult, 0u);
}

TEST(TextStreamOutput, FullBuffersToPipesAndFilesTheRestAtTheClose) {
  PacketPair pair;
  TextStream stream = OutputOn(pair.ends[1], false);
  stream.kind = StreamKind::StandardOutput;
  for (int i = 0; i < 3; ++i) WriteLine(stream, std::string(100, 'a' + i));
  EXPECT_EQ(pair.Pending(), (std::vector<std::size_t>{128, 128}));
  CloseStream(stream);
  EXPECT_EQ(pair.Pending(), (std::vector<std::size_t>{50}));
  EXPECT_EQ(stream.mode, StreamMode::Output);  // standard output stays open
  EXPECT_EQ(InOutResult, 0u);
}

TEST(TextStreamOutput, EveryLineAtOnceToACharacterDevice) {
  PacketPair pair;
  TextStream stream = OutputOn(pair.ends[1], true);
  WriteLine(stream, "short");
  WriteLine(stream, std::string(200, 'x'));
  WriteLine(stream, std::string(126, 'y'));  // the line end fills the buffer exactly
  EXPECT_EQ(pair.Pending(), (std::vector<std::size_t>{7, 128, 74, 128}));
  EXPECT_EQ(stream.bufferPos, 0u);
}

TEST(TextStreamOutput, AFailedHandOverDropsTheRestButKeepsTheLineEnd) {
  PacketPair pair;
  TextStream stream = OutputOn(pair.ends[1], false);
  close(pair.ends[0]);
  pair.ends[0] = -1;
  os::StartUp(0, nullptr, nullptr);  // a broken pipe is a write error, not a signal
  WriteLine(stream, std::string(300, 'x'));
  EXPECT_EQ(InOutResult, 232u);
  EXPECT_EQ(stream.bufferPos, 2u);  // only the CR LF waits
  InOutResult = 0;
  CloseStream(stream);  // handing over the line end fails again
  EXPECT_EQ(InOutResult, 232u);
  InOutResult = 0;
}

TEST(TextStreamFiles, CreateWriteAndCloseTheLog) {
  char folder[] = "/tmp/txtshade-stream-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string name = std::string(folder) + "/log.txt";

  TextStream log;
  AssignFile(log, name);
  RewriteFile(log);
  ASSERT_EQ(InOutResult, 0u);
  WriteLine(log, "ligne");
  CloseStream(log);
  EXPECT_EQ(InOutResult, 0u);
  EXPECT_EQ(log.mode, StreamMode::Closed);

  std::FILE* file = std::fopen(name.c_str(), "rb");
  ASSERT_NE(file, nullptr);
  char content[16] = {};
  EXPECT_EQ(std::fread(content, 1, sizeof content, file), 7u);
  EXPECT_STREQ(content, "ligne\r\n");
  std::fclose(file);
  std::remove(name.c_str());
  rmdir(folder);

  CloseStream(log);  // closing it again: not open
  EXPECT_EQ(InOutResult, ErrorFileNotOpen);
  InOutResult = 0;
  WriteLine(log, "x");
  EXPECT_EQ(InOutResult, ErrorFileNotOpen);
  InOutResult = 0;
}

TEST(TextStreamFiles, ANameThatDoesNotFitIsRefused) {
  TextStream log;
  AssignFile(log, std::string(StreamNameSize - 1, 'n'));  // 259 bytes and the zero
  EXPECT_FALSE(log.nameTooLong);
  AssignFile(log, std::string("a\0b", 3));
  EXPECT_TRUE(log.nameTooLong);
  AssignFile(log, std::string(StreamNameSize, 'n'));
  RewriteFile(log);
  EXPECT_EQ(InOutResult, 3u);
  EXPECT_EQ(log.mode, StreamMode::Closed);
  InOutResult = 0;
}

TEST(TextStreamStandard, ClosingStandardInputNeverFails) {
  TextStream input;
  input.kind = StreamKind::StandardInput;
  CloseStream(input);
  EXPECT_EQ(InOutResult, 0u);
  TextStream output;
  output.kind = StreamKind::StandardOutput;
  CloseStream(output);  // never opened
  EXPECT_EQ(InOutResult, ErrorFileNotOpen);
  InOutResult = 0;
}

TEST(IOCheck, RaisesThePendingCodeOnceWithItsMessage) {
  EXPECT_NO_THROW(IOCheck());
  InOutResult = 232;
  try {
    IOCheck();
    FAIL() << "no failure raised";
  } catch (const EInOutError& failure) {
    EXPECT_EQ(failure.ErrorCode(), 232u);
    EXPECT_EQ(failure.Message(), "Erreur E/S 232");
    EXPECT_NE(failure.Place(), nullptr);
  }
  EXPECT_EQ(InOutResult, 0u);
  EXPECT_NO_THROW(IOCheck());
}

}  // namespace
