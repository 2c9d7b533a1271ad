// The line reader, fed the same bytes in arbitrary pieces.
//
// The input is a list of messages: a length byte (taken modulo 129) followed
// by that many bytes. The messages go through an AF_UNIX SOCK_SEQPACKET
// socket pair, on which each write() arrives as exactly one read() result, so
// the real ReadFile and text-stream code see exactly these pieces. A message
// of length 0 reads as the end of the input; one more message is sent after
// it, which the reader must leave unread. The lines must be those of the
// same bytes through a pipe in one write, and those of a plain reference of
// the line rules written here.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/textstream.h"

namespace {

using Lines = std::vector<std::string>;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "line reader fuzz: %s\n", what);
  std::abort();
}

// Writes `messages` in order to `fd`, each in one write() when `fd` keeps
// message boundaries, and closes it. As long as the receiver has room this
// happens at once, without a thread; the rest goes from a thread that waits.
std::thread Deliver(int fd, std::vector<std::string> messages) {
  int flags = fcntl(fd, F_GETFL);
  fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  std::size_t next = 0, done = 0;  // the message being written, its bytes written
  while (next < messages.size()) {
    const std::string& message = messages[next];
    ssize_t put = write(fd, message.data() + done, message.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (put < 0) Fail("write failed");
    done += static_cast<std::size_t>(put);
    if (done == message.size()) {
      ++next;
      done = 0;
    }
  }
  fcntl(fd, F_SETFL, flags);
  if (next == messages.size()) {
    close(fd);
    return std::thread();
  }
  return std::thread([fd, messages = std::move(messages), next, done]() mutable {
    for (std::size_t skip = done; next < messages.size(); ++next, skip = 0) {
      const std::string& message = messages[next];
      do {
        ssize_t put = write(fd, message.data() + skip, message.size() - skip);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) Fail("write failed");
        skip += static_cast<std::size_t>(put);
      } while (skip < message.size());
    }
    close(fd);
  });
}

// Reads `fd` through a text stream as the filter loop does.
Lines ReadLines(int fd) {
  TextStream stream;
  stream.handle = fd;
  stream.mode = StreamMode::Input;
  Lines lines;
  std::string line;
  InOutResult = 0;
  for (;;) {
    bool atEnd = AtEnd(stream);
    if (InOutResult != 0) Fail("the end-of-input test failed");
    if (atEnd) break;
    ReadLine(stream, line);
    if (InOutResult != 0) Fail("a line read failed");
    lines.push_back(line);
  }
  // Once at its end, the stream stays there.
  if (!AtEnd(stream)) Fail("the end did not stay");
  return lines;
}

// The line rules, read straight off the whole input: LF or CR LF ends a line,
// a lone CR is dropped, byte 26 ends the input, the end of the input ends a
// last line that has no line end, and a final line end makes no extra line.
Lines ReferenceLines(const std::string& input) {
  std::string text = input.substr(0, input.find('\x1a'));
  Lines lines;
  std::size_t i = 0;
  while (i < text.size()) {
    std::string line;
    bool ended = false;
    while (i < text.size() && !ended) {
      char c = text[i++];
      if (c == '\n') {
        ended = true;
      } else if (c == '\r') {
        if (i < text.size() && text[i] == '\n') {
          ++i;
          ended = true;
        }
      } else {
        line += c;
      }
    }
    lines.push_back(line);
  }
  return lines;
}

struct Plan {
  std::vector<std::string> pieces;  // the messages before the end, none empty
  bool endMessage = false;          // a message of length 0 follows them
  std::string afterEnd;             // the message sent after it, if not empty
};

Plan MakePlan(const std::uint8_t* data, std::size_t size) {
  Plan plan;
  std::size_t i = 0;
  while (i < size) {
    std::size_t length = data[i++] % 129u;
    if (length == 0) {
      plan.endMessage = true;
      std::size_t rest = std::min<std::size_t>(size - i, 128);
      plan.afterEnd.assign(reinterpret_cast<const char*>(data + i), rest);
      break;
    }
    length = std::min(length, size - i);
    if (length == 0) break;
    plan.pieces.emplace_back(reinterpret_cast<const char*>(data + i), length);
    i += length;
  }
  return plan;
}

// Reads everything the reader left in the socket, up to the first read of
// no bytes, so that the writer can finish.
std::vector<std::string> Drain(int fd) {
  std::vector<std::string> left;
  char buffer[256];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return left;
    left.emplace_back(buffer, static_cast<std::size_t>(got));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Plan plan = MakePlan(data, size);
  std::string input;
  for (const std::string& piece : plan.pieces) input += piece;

  // In pieces, through the socket pair.
  int sockets[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sockets) != 0) Fail("socketpair failed");
  std::vector<std::string> messages = plan.pieces;
  if (plan.endMessage) {
    messages.emplace_back();
    if (!plan.afterEnd.empty()) messages.push_back(plan.afterEnd);
  }
  std::thread writer = Deliver(sockets[1], std::move(messages));
  Lines inPieces = ReadLines(sockets[0]);
  std::vector<std::string> left = Drain(sockets[0]);
  if (writer.joinable()) writer.join();
  close(sockets[0]);

  // At once, through a pipe.
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) Fail("pipe failed");
  std::thread pipeWriter = Deliver(pipeEnds[1], {input});
  Lines atOnce = ReadLines(pipeEnds[0]);
  Drain(pipeEnds[0]);
  if (pipeWriter.joinable()) pipeWriter.join();
  close(pipeEnds[0]);

  if (inPieces != atOnce) Fail("the lines depend on how the input was split");
  if (inPieces != ReferenceLines(input)) Fail("the lines differ from the reference");

  // Reaching the end of the input through an empty message leaves the
  // message after it unread; byte 26 ends reading earlier still.
  bool endedByMessage = plan.endMessage && input.find('\x1a') == std::string::npos;
  if (endedByMessage && !plan.afterEnd.empty() && (left.empty() || left[0] != plan.afterEnd))
    Fail("the reader went on after the end of the input");
  if (endedByMessage && plan.afterEnd.empty() && !left.empty())
    Fail("the reader left bytes before the end of the input");
  return 0;
}
