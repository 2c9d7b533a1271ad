// The I/O floor of the filter on Windows: copies standard input to standard
// output with the same calls txtshade makes to a pipe or a file, and nothing
// else. Every ReadFile asks for 128 bytes; every WriteFile hands over exactly
// 128 bytes, the remainder in one last call at the end.
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

constexpr DWORD BufferSize = 128;

bool WriteAll(HANDLE output, const char* data, DWORD size) {
  while (size > 0) {
    DWORD put = 0;
    if (!WriteFile(output, data, size, &put, nullptr) || put == 0) return false;
    data += put;
    size -= put;
  }
  return true;
}

}  // namespace

int main() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE), output = GetStdHandle(STD_OUTPUT_HANDLE);
  char in[BufferSize], out[BufferSize];
  DWORD pending = 0;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(input, in, BufferSize, &got, nullptr))
      return GetLastError() == ERROR_BROKEN_PIPE && WriteAll(output, out, pending) ? 0 : 1;
    if (got == 0) break;
    for (DWORD used = 0; used < got;) {
      DWORD count = std::min(BufferSize - pending, got - used);
      std::memcpy(out + pending, in + used, count);
      pending += count;
      used += count;
      if (pending == BufferSize) {
        if (!WriteAll(output, out, BufferSize)) return 1;
        pending = 0;
      }
    }
  }
  return WriteAll(output, out, pending) ? 0 : 1;
}
