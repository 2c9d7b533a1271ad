// The platform layer on POSIX systems.
//
// Handles are file descriptors. Both code-page sides are UTF-8, so the
// conversions copy unchanged and upper-casing knows the UTF-8 letters whose
// capitals are as long as they are. A terminal takes the place of the console:
// its colours are set with ANSI SGR sequences, and its saved state is "the
// terminal's own colours". errno values are translated to the Windows codes
// at this edge (TranslateErrno).
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace os {
namespace {

// The attribute word that stands for the terminal's own colours.
constexpr std::uint16_t TerminalDefaultAttributes = 0xFFFF;

int ArgumentCount = 0;
char** Arguments = nullptr;
std::uint32_t LastError = 0;
FaultHandler OnFault = nullptr;
bool StandardDescriptorOpen[3] = {true, true, true};
char ProgramName[256] = "txtshade";

// Copies a zero-terminated name, cut to fit `size` bytes with its zero.
void CopyName(char* destination, std::size_t size, const char* source) {
  std::size_t length = std::min(std::strlen(source), size - 1);
  std::memcpy(destination, source, length);
  destination[length] = '\0';
}

// Windows codes for errno values. Any other errno value e is shown as
// 10000 + e, as Windows Sockets numbers the BSD errors.
std::uint32_t TranslateErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENXIO:
      return 2;  // ERROR_FILE_NOT_FOUND
    case ENOTDIR:
      return 3;  // ERROR_PATH_NOT_FOUND
    case EMFILE:
    case ENFILE:
      return 4;  // ERROR_TOO_MANY_OPEN_FILES
    case EACCES:
    case EPERM:
    case EISDIR:
      return 5;  // ERROR_ACCESS_DENIED
    case EBADF:
      return 6;  // ERROR_INVALID_HANDLE
    case ENOMEM:
      return 8;  // ERROR_NOT_ENOUGH_MEMORY
    case EROFS:
      return 19;  // ERROR_WRITE_PROTECT
    case EBUSY:
    case ETXTBSY:
      return 32;  // ERROR_SHARING_VIOLATION
    case EEXIST:
      return 80;  // ERROR_FILE_EXISTS
    case EINVAL:
      return 87;  // ERROR_INVALID_PARAMETER
    case ENOSPC:
    case EDQUOT:
      return 112;  // ERROR_DISK_FULL
    case ENAMETOOLONG:
      return 206;  // ERROR_FILENAME_EXCED_RANGE
    case EFBIG:
      return 223;  // ERROR_FILE_TOO_LARGE
    case EPIPE:
      return 232;  // ERROR_NO_DATA: the pipe is being closed
    case EIO:
      return 1117;  // ERROR_IO_DEVICE
    case ELOOP:
      return 1921;  // ERROR_CANT_RESOLVE_FILENAME
    case ECONNRESET:
      return 10054;  // WSAECONNRESET
    default:
      return 10000 + static_cast<std::uint32_t>(error);
  }
}

bool Fail(int error) {
  LastError = TranslateErrno(error);
  return false;
}

int Descriptor(Handle handle) {
  return static_cast<int>(handle);
}

// Waits until `fd` is ready, for descriptors that someone made non-blocking.
void WaitFor(int fd, short events) {
  pollfd poller = {fd, events, 0};
  while (poll(&poller, 1, -1) < 0 && errno == EINTR) {
  }
}

bool IsTerminal(Handle handle) {
  static Handle cachedHandle = InvalidHandle;
  static bool cachedAnswer = false;
  if (handle != cachedHandle) {
    cachedAnswer = handle >= 0 && isatty(Descriptor(handle)) == 1;
    cachedHandle = handle;
  }
  return cachedAnswer;
}

// The ANSI colour number of the Windows colour bits 0-2 (1 blue, 2 green, 4 red).
int AnsiColour(unsigned windowsColour) {
  return ((windowsColour & 4) ? 1 : 0) | ((windowsColour & 2) ? 2 : 0) |
         ((windowsColour & 1) ? 4 : 0);
}

// Upper-case code point for the two-byte UTF-8 range, when its capital is
// also two bytes long; otherwise the code point itself.
std::uint32_t UpperCodePoint(std::uint32_t c) {
  // Latin-1: à..þ but ÷, and ÿ; µ and ß keep their form.
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
  if (c == 0xFF) return 0x178;
  // Latin Extended-A pairs; ı, ĸ, ŉ and ſ have no two-byte capital.
  if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
    return c & ~1u;
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c : c - 1;
  // Greek.
  if (c == 0x3C2) return 0x3A3;
  if (c >= 0x3B1 && c <= 0x3CB) return c - 0x20;
  if (c == 0x3AC) return 0x386;
  if (c >= 0x3AD && c <= 0x3AF) return c - 0x25;
  if (c == 0x3CC) return 0x38C;
  if (c == 0x3CD || c == 0x3CE) return c - 0x3F;
  // Cyrillic.
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F))
    return c & ~1u;
  if (c >= 0x4C1 && c <= 0x4CE) return (c & 1) ? c : c - 1;
  if (c == 0x4CF) return 0x4C0;
  return c;
}

void FindProgramName(const char* argv0) {
  char path[4096];
  const char* name = argv0;
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length > 0) {
    path[length] = '\0';
    name = path;
  }
  if (name == nullptr || *name == '\0') return;
  const char* slash = std::strrchr(name, '/');
  CopyName(ProgramName, sizeof ProgramName, slash != nullptr ? slash + 1 : name);
}

// Keeps a closed standard descriptor taken, so that no file opened later
// lands on it, while GetStdHandle goes on reporting it as missing.
void GuardStandardDescriptors() {
  for (int fd = 0; fd < 3; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    StandardDescriptorOpen[fd] = false;
    int placeholder = open("/dev/null", O_RDWR);
    if (placeholder >= 0 && placeholder != fd) close(placeholder);
  }
}

void OnFaultSignal(int signal, siginfo_t* info, void* context) {
  FaultInfo fault;
  fault.kind = signal == SIGFPE   ? FaultKind::DivideByZero
               : signal == SIGILL ? FaultKind::IllegalInstruction
                                  : FaultKind::AccessViolation;
  fault.accessAddress = info->si_addr;
  fault.codeAddress = info->si_addr;
  auto* machine = static_cast<ucontext_t*>(context);
  (void)machine;
#if defined(__linux__) && defined(__x86_64__)
  fault.codeAddress = reinterpret_cast<const void*>(machine->uc_mcontext.gregs[REG_RIP]);
  fault.isWrite = (machine->uc_mcontext.gregs[REG_ERR] & 2) != 0;
#elif defined(__linux__) && defined(__aarch64__)
  fault.codeAddress = reinterpret_cast<const void*>(machine->uc_mcontext.pc);
#elif defined(__APPLE__) && defined(__x86_64__)
  fault.codeAddress = reinterpret_cast<const void*>(machine->uc_mcontext->__ss.__rip);
  fault.isWrite = (machine->uc_mcontext->__es.__err & 2) != 0;
#elif defined(__APPLE__) && defined(__aarch64__)
  fault.codeAddress = reinterpret_cast<const void*>(machine->uc_mcontext->__ss.__pc);
#endif
  if (signal == SIGFPE || signal == SIGILL) fault.accessAddress = nullptr;
  OnFault(fault);
}

void InstallFaultHandler() {
  // Its own stack, so that a stack overflow is reported too.
  static char alternateStack[256 * 1024];
  stack_t stack = {};
  stack.ss_sp = alternateStack;
  stack.ss_size = sizeof alternateStack;
  sigaltstack(&stack, nullptr);
  struct sigaction action = {};
  action.sa_sigaction = OnFaultSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) sigaction(signal, &action, nullptr);
}

}  // namespace

void StartUp(int argc, char** argv, FaultHandler onFault) {
  ArgumentCount = argc;
  Arguments = argv;
  OnFault = onFault;
  signal(SIGPIPE, SIG_IGN);  // a reader that has gone is a write error, not a signal
  GuardStandardDescriptors();
  FindProgramName(argc > 0 ? argv[0] : nullptr);
  if (onFault != nullptr) InstallFaultHandler();
}

void ExitProcess(int status) {
  _exit(status);
}

std::uint32_t GetLastError() {
  return LastError;
}

Handle GetStdHandle(StdHandleId which) {
  int fd = which == StdInputHandle ? 0 : which == StdOutputHandle ? 1 : 2;
  if (!StandardDescriptorOpen[fd]) {
    LastError = ErrorInvalidHandle;
    return InvalidHandle;
  }
  return fd;
}

bool GetConsoleScreenBufferInfo(Handle console, ScreenBufferInfo* info) {
  if (!IsTerminal(console)) return Fail(ENOTTY);
  info->wAttributes = TerminalDefaultAttributes;
  return true;
}

bool SetConsoleTextAttribute(Handle console, std::uint16_t attributes) {
  if (!IsTerminal(console)) return Fail(ENOTTY);
  char sequence[32];
  int length;
  if (attributes == TerminalDefaultAttributes) {
    length = std::snprintf(sequence, sizeof sequence, "\x1b[0m");
  } else {
    unsigned foreground = attributes & 0xFu, background = (attributes >> 4) & 0xFu;
    length = std::snprintf(sequence, sizeof sequence, "\x1b[0;%d;%dm",
                           ((foreground & 8) ? 90 : 30) + AnsiColour(foreground),
                           ((background & 8) ? 100 : 40) + AnsiColour(background));
  }
  return WriteFile(console, sequence, static_cast<std::uint32_t>(length));
}

FileType GetFileType(Handle handle) {
  struct stat status;
  if (handle < 0 || fstat(Descriptor(handle), &status) != 0) {
    Fail(handle < 0 ? EBADF : errno);
    return FileTypeUnknown;
  }
  if (S_ISCHR(status.st_mode)) return FileTypeChar;
  if (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) return FileTypePipe;
  return FileTypeDisk;
}

bool ReadFile(Handle handle, void* buffer, std::uint32_t size, std::uint32_t* count) {
  for (;;) {
    ssize_t got = read(Descriptor(handle), buffer, size);
    if (got >= 0) {
      *count = static_cast<std::uint32_t>(got);
      return true;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      WaitFor(Descriptor(handle), POLLIN);
      continue;
    }
    *count = 0;
    return Fail(errno);
  }
}

bool WriteFile(Handle handle, const void* data, std::uint32_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t put = write(Descriptor(handle), bytes, size);
    if (put > 0) {
      bytes += put;
      size -= static_cast<std::uint32_t>(put);
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      WaitFor(Descriptor(handle), POLLOUT);
      continue;
    }
    return Fail(put < 0 ? errno : EIO);
  }
  return true;
}

Handle CreateLogFile(const char* name) {
  int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd >= 0) return fd;
  int error = errno;
  Fail(error);
  // As on Windows, a missing folder is "path not found", not "file not found".
  const char* slash = std::strrchr(name, '/');
  if (error == ENOENT && slash != nullptr && slash != name) {
    std::string folder(name, static_cast<std::size_t>(slash - name));
    struct stat status;
    if (stat(folder.c_str(), &status) != 0) LastError = ErrorPathNotFound;
  }
  return InvalidHandle;
}

bool CloseHandle(Handle handle) {
  // After EINTR the descriptor is closed all the same.
  if (close(Descriptor(handle)) == 0 || errno == EINTR) return true;
  return Fail(errno);
}

void CharToOemBuffA(char*, std::uint32_t) {}
void OemToCharBuffA(char*, std::uint32_t) {}
void CharToOemA(char*) {}

void CharUpperBuffA(char* text, std::uint32_t length) {
  auto* bytes = reinterpret_cast<unsigned char*>(text);
  for (std::uint32_t i = 0; i < length; ++i) {
    unsigned char lead = bytes[i];
    if (lead < 0x80) {
      if (lead >= 'a' && lead <= 'z') bytes[i] = static_cast<unsigned char>(lead - 0x20);
      continue;
    }
    // Only well-formed two-byte sequences are touched; any other byte stays.
    if (lead < 0xC2 || lead > 0xDF || i + 1 >= length || (bytes[i + 1] & 0xC0) != 0x80) continue;
    std::uint32_t c = ((lead & 0x1Fu) << 6) | (bytes[i + 1] & 0x3Fu);
    std::uint32_t upper = UpperCodePoint(c);
    bytes[i] = static_cast<unsigned char>(0xC0 | (upper >> 6));
    bytes[i + 1] = static_cast<unsigned char>(0x80 | (upper & 0x3F));
    ++i;
  }
}

std::vector<std::string> CommandLineParameters() {
  std::vector<std::string> parameters;
  for (int i = 1; i < ArgumentCount; ++i)
    if (Arguments[i][0] != '\0') parameters.emplace_back(Arguments[i]);
  return parameters;
}

bool OfferUnhandledFailure() {
  return true;
}

void PassFailureToSystem() {
  std::abort();
}

void DescribeAddress(const void* address, char* moduleName, std::size_t size,
                     std::uintptr_t* offset) {
  Dl_info module = {}, program = {};
  bool known = dladdr(address, &module) != 0 && module.dli_fbase != nullptr;
  bool ownCode = dladdr(reinterpret_cast<const void*>(&DescribeAddress), &program) != 0 &&
                 (!known || module.dli_fbase == program.dli_fbase);
  const char* name = ProgramName;
  if (!ownCode && module.dli_fname != nullptr && *module.dli_fname != '\0') {
    const char* slash = std::strrchr(module.dli_fname, '/');
    name = slash != nullptr ? slash + 1 : module.dli_fname;
  }
  CopyName(moduleName, size, name);
  const void* base = known ? module.dli_fbase : program.dli_fbase;
  *offset = reinterpret_cast<std::uintptr_t>(address) - reinterpret_cast<std::uintptr_t>(base);
}

}  // namespace os
