// The I/O floor of the filter: copies standard input to standard output with
// the same system calls txtshade makes to a pipe or a file, and nothing else.
// Every read() asks for 128 bytes; every write() hands over exactly 128 bytes,
// the remainder in one last write at the end.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace {

constexpr std::size_t BufferSize = 128;

bool WriteAll(const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t put = write(1, data, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

}  // namespace

int main() {
  char in[BufferSize], out[BufferSize];
  std::size_t pending = 0;
  for (;;) {
    ssize_t got = read(0, in, BufferSize);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return 1;
    if (got == 0) break;
    for (std::size_t used = 0; used < static_cast<std::size_t>(got);) {
      std::size_t count = std::min(BufferSize - pending, static_cast<std::size_t>(got) - used);
      std::memcpy(out + pending, in + used, count);
      pending += count;
      used += count;
      if (pending == BufferSize) {
        if (!WriteAll(out, BufferSize)) return 1;
        pending = 0;
      }
    }
  }
  return WriteAll(out, pending) ? 0 : 1;
}
