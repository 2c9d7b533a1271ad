// A program with a defect on purpose, for the end-to-end test of the fault
// report: it reads address 0 inside two clean-up blocks, each of which writes
// a marker to standard output when it runs. The fault must run both blocks,
// innermost first, then write the report and end the process with status 1.
#include <cstdint>

#include "platform/failure.h"
#include "platform/platform.h"

namespace {

void WriteMarker(const char* text, std::uint32_t length) {
  os::WriteFile(os::GetStdHandle(os::StdOutputHandle), text, length);
}

// The sanitizers would catch the read themselves; the fault handler is to see it.
__attribute__((noinline, no_sanitize("address", "undefined"))) void ReadAddressZero() {
  volatile int* volatile nowhere = nullptr;
  int value = *nowhere;
  (void)value;
}

void Inner() {
  TryFinally(ReadAddressZero, [] { WriteMarker("inner clean-up\n", 15); });
}

void Outer() {
  TryFinally(Inner, [] { WriteMarker("outer clean-up\n", 15); });
}

}  // namespace

int main(int argc, char* argv[]) {
  os::StartUp(argc, argv, HandleFault);
  return RunProgram(Outer);
}
