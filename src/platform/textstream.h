// Buffered text streams over system handles, and the I/O check.
//
// A stream operation never raises: a failure stores its code in
// InOutResult (a later failure replaces an earlier one, a success leaves it
// alone), and IOCheck(), called after every operation, turns a pending code
// into EInOutError. Lines end in CR LF on output; on input LF or CR LF ends a
// line, a CR not followed by LF is dropped and byte 26 ends the input. No
// stream converts code pages or changes a byte of a line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

constexpr std::size_t StreamBufferSize = 128;
constexpr std::size_t StreamNameSize = 260;  // 259 bytes and a terminating zero

// The streams' own error codes.
constexpr std::uint32_t ErrorFileNotOpen = 103;
constexpr std::uint32_t ErrorBadFileType = 105;

enum class StreamMode { Closed, Input, Output };

// Standard input never fails to close; standard output is flushed, not closed.
enum class StreamKind { File, StandardInput, StandardOutput };

struct TextStream {
  StreamKind kind = StreamKind::File;
  os::Handle handle = os::InvalidHandle;
  StreamMode mode = StreamMode::Closed;
  std::size_t bufferPos = 0;   // the next byte to read or write
  std::size_t bufferEnd = 0;   // input: the count of valid bytes
  bool atEnd = false;          // input: the end has been reached; no more reads
  bool flushEachLine = false;  // hand the buffer to the system after every line
  bool closeHandle = false;    // closing closes the handle (the match log)
  bool nameTooLong = false;    // the assigned name did not fit in `name`
  char name[StreamNameSize] = {};
  char buffer[StreamBufferSize];
};

// The pending I/O error code of the run; 0 when there is none.
extern std::uint32_t InOutResult;

// Raises EInOutError when an error code is pending, and clears it.
void IOCheck();

// The standard streams, closed until opened.
extern TextStream StandardInput;
extern TextStream StandardOutput;

void OpenStandardInput(TextStream& stream);
void OpenStandardOutput(TextStream& stream);

// Resets `stream` and gives it a file name. A name that does not fit leaves
// the stream unable to open (code 3).
void AssignFile(TextStream& stream, const std::string& name);
// Creates or empties the assigned file and opens the stream for writing.
void RewriteFile(TextStream& stream);

// True at the end of the input or when the next byte is 26. May wait for input.
bool AtEnd(TextStream& stream);
// Reads the next line, without its line end, into `line`, and consumes the
// line end. At the end of the input `line` is empty.
void ReadLine(TextStream& stream, std::string& line);
// Writes `length` bytes and CR LF.
void WriteLine(TextStream& stream, const char* data, std::size_t length);
inline void WriteLine(TextStream& stream, const std::string& line) {
  WriteLine(stream, line.data(), line.size());
}
void CloseStream(TextStream& stream);
