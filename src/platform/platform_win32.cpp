// The platform layer on Windows: the kernel32/user32 calls themselves.
//
// Handles are HANDLE values held in an intptr_t, error codes are those of
// GetLastError untranslated, and the code pages are the system's OEM and
// ANSI ones. Failures: the process gets a top-level exception filter, so that
// UnhandledExceptionFilter answers for the program when no debugger is
// attached (instead of starting one or Windows Error Reporting); the same
// filter hands the processor faults that nothing handled to the program's
// fault handler. While a debugger is attached UnhandledExceptionFilter does
// not call the filter, and the debugger gets the fault.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cwchar>

#include "platform/cmdline.h"
#include "platform/platform.h"

namespace os {
namespace {

// The exception code with which a failure of the program itself is offered
// to the system and, when the system wants it, raised.
constexpr DWORD SoftwareFailureCode = 0xE0747873;  // customer bit, then "txs"

// Stack kept free for the fault handler when the stack overflows.
constexpr ULONG StackOverflowReserve = 64 * 1024;

FaultHandler OnFault = nullptr;
bool TopLevelFilterInstalled = false;
// The fault handler is running: a further fault goes to the system.
volatile LONG HandlingFault = 0;

HANDLE ToHandle(Handle handle) {
  return reinterpret_cast<HANDLE>(handle);
}

Handle FromHandle(HANDLE handle) {
  return reinterpret_cast<Handle>(handle);
}

LONG WINAPI AnswerForTheProgram(EXCEPTION_POINTERS* pointers);

void InstallTopLevelFilter() {
  SetUnhandledExceptionFilter(AnswerForTheProgram);
  TopLevelFilterInstalled = true;
}

const char* AnsiCharNext(const char* text) {
  return CharNextA(text);
}

// Runs the fault handler on a fresh thread, for a stack that has overflowed
// and cannot carry the clean-up blocks and the report. The handler ends the
// process; the faulting thread waits for that.
DWORD WINAPI HandleFaultOnOwnStack(void* fault) {
  OnFault(*static_cast<const FaultInfo*>(fault));
  return 0;
}

// What an unhandled exception is to become, when no debugger wants it: the
// system asks this filter from UnhandledExceptionFilter, before anything is
// unwound. Processor faults go to the program's fault handler, which runs the
// clean-up blocks, reports the fault and ends the process; any other
// exception (a failure the program offers itself, a C++ exception that
// nothing caught) is for the program to handle as it sees fit.
LONG WINAPI AnswerForTheProgram(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  FaultInfo fault;
  fault.codeAddress = record->ExceptionAddress;
  switch (record->ExceptionCode) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_STACK_OVERFLOW:
      fault.kind = FaultKind::AccessViolation;
      if (record->NumberParameters >= 2) {
        // 0 read, 1 write, 8 execution (data execution prevention)
        fault.isWrite = record->ExceptionInformation[0] != 0;
        fault.accessAddress = reinterpret_cast<const void*>(record->ExceptionInformation[1]);
      }
      break;
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
      fault.kind = FaultKind::DivideByZero;
      break;
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
      fault.kind = FaultKind::IllegalInstruction;
      break;
    default:
      return EXCEPTION_EXECUTE_HANDLER;
  }
  // A fault while the fault handler runs is left to the system.
  if (OnFault == nullptr || InterlockedExchange(&HandlingFault, 1) != 0)
    return EXCEPTION_EXECUTE_HANDLER;
  if (record->ExceptionCode == EXCEPTION_STACK_OVERFLOW) {
    HANDLE thread = CreateThread(nullptr, 0, HandleFaultOnOwnStack, &fault, 0, nullptr);
    if (thread != nullptr) WaitForSingleObject(thread, INFINITE);
    return EXCEPTION_EXECUTE_HANDLER;  // only when the thread could not run
  }
  OnFault(fault);
  return EXCEPTION_EXECUTE_HANDLER;  // not reached: the handler ends the process
}

}  // namespace

void StartUp(int, char**, FaultHandler onFault) {
  OnFault = onFault;
  InstallTopLevelFilter();
  // Room for the search for a handler, which runs on the faulting stack.
  ULONG reserve = StackOverflowReserve;
  SetThreadStackGuarantee(&reserve);
}

void ExitProcess(int status) {
  ::ExitProcess(static_cast<UINT>(status));
}

std::uint32_t GetLastError() {
  return ::GetLastError();
}

Handle GetStdHandle(StdHandleId which) {
  return FromHandle(::GetStdHandle(static_cast<DWORD>(which)));
}

bool GetConsoleScreenBufferInfo(Handle console, ScreenBufferInfo* info) {
  CONSOLE_SCREEN_BUFFER_INFO screen;
  if (!::GetConsoleScreenBufferInfo(ToHandle(console), &screen)) return false;
  info->wAttributes = screen.wAttributes;
  return true;
}

bool SetConsoleTextAttribute(Handle console, std::uint16_t attributes) {
  // The last handle that proved not to be a console: setting its colours
  // fails the same way for every line, and the call costs a trip to the
  // system (to the wine server under wine), so it is not made again.
  static Handle NotAConsole = InvalidHandle;
  if (console == NotAConsole) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (::SetConsoleTextAttribute(ToHandle(console), attributes)) return true;
  if (::GetLastError() == ERROR_INVALID_HANDLE) NotAConsole = console;
  return false;
}

FileType GetFileType(Handle handle) {
  return static_cast<FileType>(::GetFileType(ToHandle(handle)));
}

bool ReadFile(Handle handle, void* buffer, std::uint32_t size, std::uint32_t* count) {
  DWORD got = 0;
  BOOL ok = ::ReadFile(ToHandle(handle), buffer, size, &got, nullptr);
  *count = ok ? got : 0;
  return ok != FALSE;
}

bool WriteFile(Handle handle, const void* data, std::uint32_t size) {
  DWORD written = 0;
  return ::WriteFile(ToHandle(handle), data, size, &written, nullptr) != FALSE;
}

Handle CreateLogFile(const char* name) {
  return FromHandle(CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool CloseHandle(Handle handle) {
  return ::CloseHandle(ToHandle(handle)) != FALSE;
}

void CharToOemBuffA(char* text, std::uint32_t length) {
  ::CharToOemBuffA(text, text, length);
}

void OemToCharBuffA(char* text, std::uint32_t length) {
  ::OemToCharBuffA(text, text, length);
}

void CharUpperBuffA(char* text, std::uint32_t length) {
  ::CharUpperBuffA(text, length);
}

void CharToOemA(char* text) {
  ::CharToOemA(text, text);
}

std::vector<std::string> CommandLineParameters() {
  std::vector<std::string> parameters = SplitCommandLine(GetCommandLineA(), AnsiCharNext);
  if (!parameters.empty()) parameters.erase(parameters.begin());  // the program's own name
  return parameters;
}

bool OfferUnhandledFailure() {
  if (!TopLevelFilterInstalled) InstallTopLevelFilter();
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = SoftwareFailureCode;
  record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
  record.ExceptionAddress = __builtin_return_address(0);
  CONTEXT context = {};
  RtlCaptureContext(&context);
  EXCEPTION_POINTERS pointers = {&record, &context};
  return UnhandledExceptionFilter(&pointers) != EXCEPTION_CONTINUE_SEARCH;
}

void PassFailureToSystem() {
  RaiseException(SoftwareFailureCode, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  ::ExitProcess(1);  // only when someone chose to continue all the same
}

void DescribeAddress(const void* address, char* moduleName, std::size_t size,
                     std::uintptr_t* offset) {
  MEMORY_BASIC_INFORMATION region = {};
  HMODULE module = nullptr;
  if (VirtualQuery(address, &region, sizeof region) != 0)
    module = static_cast<HMODULE>(region.AllocationBase);
  // The wide call into a buffer on the stack: GetModuleFileNameA may take
  // memory from the heap for its conversion, and the heap may be exhausted.
  wchar_t path[MAX_PATH + 1];
  DWORD length = module != nullptr ? GetModuleFileNameW(module, path, MAX_PATH) : 0;
  if (length == 0) {
    // Not inside a module: name the program itself.
    module = GetModuleHandleW(nullptr);
    length = GetModuleFileNameW(module, path, MAX_PATH);
  }
  path[length < MAX_PATH ? length : MAX_PATH] = L'\0';
  const wchar_t* name = path;
  for (const wchar_t* p = path; *p != L'\0'; ++p)
    if (*p == L'\\' || *p == L'/' || *p == L':') name = p + 1;
  *offset = reinterpret_cast<std::uintptr_t>(address) - reinterpret_cast<std::uintptr_t>(module);
  if (size == 0) return;
  // The longest start of the name that fits, cut between characters. (With
  // no room at all the call would only measure, so it is not made.)
  const int room = static_cast<int>(size - 1);
  int characters = room > 0 ? static_cast<int>(std::wcslen(name)) : 0;
  int written = 0;
  while (characters > 0 && (written = WideCharToMultiByte(CP_ACP, 0, name, characters, moduleName,
                                                          room, nullptr, nullptr)) == 0)
    --characters;
  moduleName[written] = '\0';
}

}  // namespace os
