#include "platform/textstream.h"

#include <algorithm>
#include <cstring>

#include "platform/failure.h"

namespace {

// Delphi's numbering for a stream used in the wrong direction.
constexpr std::uint32_t ErrorFileNotOpenForInput = 104;
constexpr std::uint32_t ErrorFileNotOpenForOutput = 105;

constexpr char EndOfInputMark = 26;

TextStream MakeStream(StreamKind kind) {
  TextStream stream;
  stream.kind = kind;
  return stream;
}

void ResetStream(TextStream& stream) {
  StreamKind kind = stream.kind;
  stream = TextStream();
  stream.kind = kind;
}

// Binds `stream` to an output handle: a character device gets every line at
// once, anything else in full buffers; a handle of no known type is refused.
void OpenOutputHandle(TextStream& stream, os::Handle handle) {
  if (handle == os::InvalidHandle) {
    InOutResult = os::GetLastError();
    return;
  }
  os::FileType type = os::GetFileType(handle);
  if (type == os::FileTypeUnknown) {
    os::CloseHandle(handle);
    InOutResult = ErrorBadFileType;
    return;
  }
  stream.handle = handle;
  stream.mode = StreamMode::Output;
  stream.flushEachLine = type == os::FileTypeChar;
  stream.bufferPos = 0;
}

// Refills an empty input buffer with one read. False at the end of the input,
// which a failed read also is (its code left pending, unless a closed pipe).
bool FillBuffer(TextStream& stream) {
  if (stream.atEnd) return false;
  std::uint32_t count = 0;
  if (!os::ReadFile(stream.handle, stream.buffer, StreamBufferSize, &count)) {
    std::uint32_t code = os::GetLastError();
    if (code != os::ErrorBrokenPipe) InOutResult = code;
    count = 0;
  }
  stream.bufferPos = 0;
  stream.bufferEnd = count;
  if (count == 0) stream.atEnd = true;
  return count != 0;
}

bool ReadyForInput(TextStream& stream) {
  if (stream.mode == StreamMode::Input) return true;
  InOutResult = stream.mode == StreamMode::Closed ? ErrorFileNotOpen : ErrorFileNotOpenForInput;
  return false;
}

// Hands the buffered bytes to the system. The buffer is empty afterwards even
// when that fails: its bytes are lost and the code is left pending.
bool FlushBuffer(TextStream& stream) {
  std::size_t count = stream.bufferPos;
  stream.bufferPos = 0;
  if (count == 0) return true;
  if (os::WriteFile(stream.handle, stream.buffer, static_cast<std::uint32_t>(count))) return true;
  InOutResult = os::GetLastError();
  return false;
}

// Adds bytes to the buffer, handing it over each time it is full. After a
// failed hand-over the rest of these bytes is dropped.
void WriteBytes(TextStream& stream, const char* data, std::size_t length) {
  while (length > 0) {
    std::size_t count = std::min(StreamBufferSize - stream.bufferPos, length);
    std::memcpy(stream.buffer + stream.bufferPos, data, count);
    stream.bufferPos += count;
    data += count;
    length -= count;
    if (stream.bufferPos == StreamBufferSize && !FlushBuffer(stream)) return;
  }
}

bool IsLineStop(char c) {
  return c == '\n' || c == '\r' || c == EndOfInputMark;
}

// True when one of the eight bytes at `p` is below 27, as LF, CR and 26 are:
// subtracting 27 from every byte then sets the top bit of one that had it clear.
bool MayHoldLineStop(const char* p) {
  constexpr std::uint64_t Ones = 0x0101010101010101ull;
  std::uint64_t word;
  std::memcpy(&word, p, 8);
  return ((word - 27 * Ones) & ~word & (0x80 * Ones)) != 0;
}

// The first LF, CR or 26 in [start, end), or `end`; text without control
// bytes is skipped eight bytes at a time.
const char* FindLineStop(const char* start, const char* end) {
  const char* p = start;
  for (;;) {
    while (end - p >= 8 && !MayHoldLineStop(p)) p += 8;
    const char* blockEnd = end - p >= 8 ? p + 8 : end;
    for (; p < blockEnd; ++p)
      if (IsLineStop(*p)) return p;
    if (p == end) return end;
  }
}

}  // namespace

std::uint32_t InOutResult = 0;

TextStream StandardInput = MakeStream(StreamKind::StandardInput);
TextStream StandardOutput = MakeStream(StreamKind::StandardOutput);

// Not inlined, so that its return address is the place just after the check.
__attribute__((noinline)) void IOCheck() {
  if (InOutResult == 0) return;
  std::uint32_t code = InOutResult;
  InOutResult = 0;
  throw EInOutError(code, __builtin_return_address(0));
}

void OpenStandardInput(TextStream& stream) {
  ResetStream(stream);
  os::Handle handle = os::GetStdHandle(os::StdInputHandle);
  if (handle == os::InvalidHandle) {
    InOutResult = os::GetLastError();
    return;
  }
  stream.handle = handle;
  stream.mode = StreamMode::Input;
}

void OpenStandardOutput(TextStream& stream) {
  ResetStream(stream);
  OpenOutputHandle(stream, os::GetStdHandle(os::StdOutputHandle));
}

void AssignFile(TextStream& stream, const std::string& name) {
  ResetStream(stream);
  // A name must fit with its terminating zero and cannot hold a zero byte.
  stream.nameTooLong = name.size() >= StreamNameSize || name.find('\0') != std::string::npos;
  if (!stream.nameTooLong) std::memcpy(stream.name, name.c_str(), name.size() + 1);
}

void RewriteFile(TextStream& stream) {
  if (stream.nameTooLong) {
    InOutResult = os::ErrorPathNotFound;
    return;
  }
  os::Handle handle = os::CreateLogFile(stream.name);
  OpenOutputHandle(stream, handle);
  if (stream.mode == StreamMode::Output) stream.closeHandle = true;
}

bool AtEnd(TextStream& stream) {
  if (!ReadyForInput(stream)) return true;
  if (stream.bufferPos == stream.bufferEnd && !FillBuffer(stream)) return true;
  return stream.buffer[stream.bufferPos] == EndOfInputMark;
}

void ReadLine(TextStream& stream, std::string& line) {
  line.clear();
  if (!ReadyForInput(stream)) return;
  for (;;) {
    if (stream.bufferPos == stream.bufferEnd && !FillBuffer(stream)) return;
    const char* start = stream.buffer + stream.bufferPos;
    const char* end = stream.buffer + stream.bufferEnd;
    const char* stop = FindLineStop(start, end);
    line.append(start, static_cast<std::size_t>(stop - start));
    stream.bufferPos = static_cast<std::size_t>(stop - stream.buffer);
    if (stop == end) continue;
    // Byte 26 stays unread, so that the end-of-input test sees it.
    if (*stop == EndOfInputMark) return;
    ++stream.bufferPos;
    if (*stop == '\n') return;
    // A CR ends the line only together with an LF, which may come in the next read.
    if (stream.bufferPos == stream.bufferEnd && !FillBuffer(stream)) return;
    if (stream.buffer[stream.bufferPos] == '\n') {
      ++stream.bufferPos;
      return;
    }
  }
}

void WriteLine(TextStream& stream, const char* data, std::size_t length) {
  if (stream.mode != StreamMode::Output) {
    InOutResult = stream.mode == StreamMode::Closed ? ErrorFileNotOpen : ErrorFileNotOpenForOutput;
    return;
  }
  WriteBytes(stream, data, length);
  WriteBytes(stream, "\r\n", 2);
  if (stream.flushEachLine) FlushBuffer(stream);
}

void CloseStream(TextStream& stream) {
  if (stream.kind == StreamKind::StandardInput) {
    if (stream.mode == StreamMode::Input) stream.mode = StreamMode::Closed;
    return;
  }
  if (stream.mode != StreamMode::Output) {
    InOutResult = ErrorFileNotOpen;
    return;
  }
  // Standard output is only flushed: it stays open and its handle is not ours.
  if (!FlushBuffer(stream) || !stream.closeHandle) return;
  if (!os::CloseHandle(stream.handle)) InOutResult = os::GetLastError();
  stream.mode = StreamMode::Closed;
}
