// The thin layer over the operating system.
//
// Every service the filter needs from the system goes through here, under the
// names of the Windows calls it is modelled on. platform_win32.cpp forwards
// them to kernel32/user32; platform_posix.cpp carries them over to file
// descriptors, ANSI colour sequences and UTF-8. Failing calls leave an error
// code for GetLastError() in the Windows numbering on both systems, so the
// rest of the program sees one set of codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace os {

// A system handle: a HANDLE on Windows, a file descriptor on POSIX.
using Handle = std::intptr_t;
constexpr Handle InvalidHandle = -1;

// The arguments of GetStdHandle.
enum StdHandleId : int {
  StdInputHandle = -10,
  StdOutputHandle = -11,
  StdErrorHandle = -12,
};

// What GetFileType answers. Only Char and Unknown change the program's behaviour.
enum FileType : std::uint32_t {
  FileTypeUnknown = 0,
  FileTypeDisk = 1,
  FileTypeChar = 2,
  FileTypePipe = 3,
};

// Error codes the program itself compares against (Windows numbering).
constexpr std::uint32_t ErrorFileNotFound = 2;
constexpr std::uint32_t ErrorPathNotFound = 3;
constexpr std::uint32_t ErrorInvalidHandle = 6;
constexpr std::uint32_t ErrorBrokenPipe = 109;

// The part of the console state the program keeps. On POSIX the attribute
// word of a terminal is an opaque value meaning "the terminal's own colours".
struct ScreenBufferInfo {
  std::uint16_t wAttributes = 0;
};

// What the system tells about an invalid memory access or another processor fault.
enum class FaultKind { AccessViolation, DivideByZero, IllegalInstruction };
struct FaultInfo {
  FaultKind kind = FaultKind::AccessViolation;
  const void* codeAddress = nullptr;    // the faulting instruction
  const void* accessAddress = nullptr;  // the address accessed (access violations)
  bool isWrite = false;                 // false: a read, or unknown
};
using FaultHandler = void (*)(const FaultInfo&);

// Start-up: keeps the arguments (POSIX), makes a broken pipe a write error
// rather than a signal, and routes processor faults to `onFault`, which must
// not return. Called once, before anything else.
void StartUp(int argc, char** argv, FaultHandler onFault);

// Ends the process at once with `status`; nothing else runs.
[[noreturn]] void ExitProcess(int status);

std::uint32_t GetLastError();

// Console.
Handle GetStdHandle(StdHandleId which);
bool GetConsoleScreenBufferInfo(Handle console, ScreenBufferInfo* info);
bool SetConsoleTextAttribute(Handle console, std::uint16_t attributes);

// Files. ReadFile waits until at least one byte or the end is there; a count
// of 0 with true is the end. WriteFile hands over all `size` bytes or fails.
FileType GetFileType(Handle handle);
bool ReadFile(Handle handle, void* buffer, std::uint32_t size, std::uint32_t* count);
bool WriteFile(Handle handle, const void* data, std::uint32_t size);
// Creates or empties the match log: write access, others may read it.
Handle CreateLogFile(const char* name);
bool CloseHandle(Handle handle);

// Code pages: in-place conversions that keep the length. (The A suffixes keep
// these names clear of the macros that windows.h defines without them.)
void CharToOemBuffA(char* text, std::uint32_t length);
void OemToCharBuffA(char* text, std::uint32_t length);
void CharUpperBuffA(char* text, std::uint32_t length);
// The zero-terminated form used for the failure report.
void CharToOemA(char* text);

// The command-line parameters after the program's own name, never empty ones.
std::vector<std::string> CommandLineParameters();

// Failure handling. OfferUnhandledFailure asks the system whether the program
// is to report a failure itself (false while a debugger wants it);
// PassFailureToSystem then hands it over and does not return.
bool OfferUnhandledFailure();
[[noreturn]] void PassFailureToSystem();

// The module (file name without folder, zero-terminated and cut to `size`)
// that holds `address`, and the address's offset from the start of that
// module. Allocates nothing: it also serves when memory has run out.
void DescribeAddress(const void* address, char* moduleName, std::size_t size,
                     std::uintptr_t* offset);

}  // namespace os
