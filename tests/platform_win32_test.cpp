// The Win32 platform layer against the system itself: code pages (the tests
// expect OEM 850 and ANSI 1252, as a French Windows has them), files and
// pipes, the module lookup of the report, and the routing of processor
// faults. Fault tests run in a child process (death tests).
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <winternl.h>  // PEB

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/failure.h"
#include "platform/platform.h"
#include "platform/textstream.h"
#include "txtSHADE.h"

namespace {

class CodePages : public ::testing::Test {
 protected:
  void SetUp() override {
    if (GetOEMCP() != 850 || GetACP() != 1252)
      GTEST_SKIP() << "needs OEM code page 850 and ANSI code page 1252 (LC_ALL=fr_FR.UTF-8 "
                      "under wine); this system has "
                   << GetOEMCP() << " and " << GetACP();
  }
};

TEST_F(CodePages, ProgramTextsAreStoredInWindows1252) {
  // The build compiles the narrow literals to the ANSI code page.
  EXPECT_EQ(InOutErrorMessage(5), "Acc\xE8s au fichier refus\xE9");
  EXPECT_EQ(std::string("chaîne"), "cha\xEEne");
}

TEST_F(CodePages, AnsiAndOemConvertBothWaysInPlace) {
  struct Case {
    const char* ansi;
    const char* oem;
  };
  const Case cases[] = {
      {"\xE9t\xE9", "\x82t\x82"},                          // été
      {"\xC9T\xC9", "\x90T\x90"},                          // ÉTÉ
      {"Ao\xFBt \xE0 \xE7\xE0", "Ao\x96t \x85 \x87\x85"},  // Août à çà
      {"cha\xEEnes recherch\xE9"
       "es",
       "cha\x8Cnes recherch\x82"
       "es"},  // chaînes recherchées
  };
  for (const Case& c : cases) {
    std::string text = c.ansi;
    os::CharToOemBuffA(&text[0], static_cast<std::uint32_t>(text.size()));
    EXPECT_EQ(text, c.oem) << c.ansi;
    os::OemToCharBuffA(&text[0], static_cast<std::uint32_t>(text.size()));
    EXPECT_EQ(text, c.ansi);
  }
}

TEST_F(CodePages, ConversionKeepsTheLengthAndZeroBytes) {
  std::string text("a\0\xE9", 3);
  std::string converted = ConvertCharSet(ToOem, text);
  EXPECT_EQ(converted, std::string("a\0\x82", 3));
  EXPECT_EQ(text, std::string("a\0\xE9", 3));  // the argument is left alone
  EXPECT_EQ(ConvertCharSet(ToAnsi, converted), text);
  EXPECT_EQ(ConvertCharSet(2, text), text);
}

TEST_F(CodePages, CharToOemAConvertsUpToTheZero) {
  char report[] = "Acc\xE8s refus\xE9\0\xE9";
  os::CharToOemA(report);
  EXPECT_STREQ(report, "Acc\x8As refus\x82");
  EXPECT_EQ(report[sizeof report - 2], '\xE9');  // after the zero: untouched
}

TEST_F(CodePages, UpperCasingFollowsWindows1252) {
  // à..þ but ÷ become À..Þ; š œ ž become Š Œ Ž; ß and ÷ stay.
  std::string lower = "abc\xE0\xE9\xEE\xF5\xFC\xFE \x9A\x9C\x9E \xDF\xF7 1/c:";
  EXPECT_EQ(AnsiUpperCase(lower), "ABC\xC0\xC9\xCE\xD5\xDC\xDE \x8A\x8C\x8E \xDF\xF7 1/C:");
  std::string all(256, '\0');
  for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<char>(i);
  EXPECT_EQ(AnsiUpperCase(all).size(), 256u);
}

TEST_F(CodePages, OemAccentedLineMatchesAnAnsiTerm) {
  // A line of the console (OEM 850) and a term from the command line (ANSI 1252).
  ASSERT_TRUE(ParseParameters({"\xE9t\xE9"}));
  EXPECT_TRUE(LineMatches("R\x90SUM\x90 D'\x90T\x90"));  // RÉSUMÉ D'ÉTÉ
  EXPECT_TRUE(LineMatches("un \x82t\x82 chaud"));        // un été chaud
  EXPECT_FALSE(LineMatches("un ete chaud"));
  SearchTerms.clear();
  SearchTermCount = 0;
}

TEST(Win32Files, FileTypesOfDiskPipeAndCharacterDevice) {
  char folder[MAX_PATH], path[MAX_PATH];
  ASSERT_NE(GetTempPathA(MAX_PATH, folder), 0u);
  ASSERT_NE(GetTempFileNameA(folder, "txs", 0, path), 0u);
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(os::GetFileType(reinterpret_cast<os::Handle>(file)), os::FileTypeDisk);
  CloseHandle(file);
  DeleteFileA(path);

  HANDLE reader, writer;
  ASSERT_TRUE(CreatePipe(&reader, &writer, nullptr, 0));
  EXPECT_EQ(os::GetFileType(reinterpret_cast<os::Handle>(writer)), os::FileTypePipe);
  CloseHandle(reader);
  CloseHandle(writer);

  HANDLE device = CreateFileA("NUL", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(device, INVALID_HANDLE_VALUE);
  EXPECT_EQ(os::GetFileType(reinterpret_cast<os::Handle>(device)), os::FileTypeChar);
  CloseHandle(device);

  EXPECT_EQ(os::GetFileType(os::InvalidHandle), os::FileTypeUnknown);
  EXPECT_EQ(os::GetLastError(), static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
}

TEST(Win32Files, StandardHandlesAreThoseOfTheSystem) {
  EXPECT_EQ(os::GetStdHandle(os::StdInputHandle),
            reinterpret_cast<os::Handle>(GetStdHandle(STD_INPUT_HANDLE)));
  EXPECT_EQ(os::GetStdHandle(os::StdOutputHandle),
            reinterpret_cast<os::Handle>(GetStdHandle(STD_OUTPUT_HANDLE)));
  EXPECT_EQ(os::GetStdHandle(os::StdErrorHandle),
            reinterpret_cast<os::Handle>(GetStdHandle(STD_ERROR_HANDLE)));
}

TEST(Win32Files, ConsoleCallsFailHarmlesslyOffTheConsole) {
  HANDLE reader, writer;
  ASSERT_TRUE(CreatePipe(&reader, &writer, nullptr, 0));
  os::ScreenBufferInfo info;
  info.wAttributes = 0;
  EXPECT_FALSE(os::GetConsoleScreenBufferInfo(reinterpret_cast<os::Handle>(writer), &info));
  EXPECT_EQ(info.wAttributes, 0);
  EXPECT_FALSE(os::SetConsoleTextAttribute(reinterpret_cast<os::Handle>(writer), 11));
  CloseHandle(reader);
  CloseHandle(writer);
}

// A pipe whose writer has gone: ReadFile fails with ERROR_BROKEN_PIPE, which
// the input stream takes for the end of its input, not for an error.
TEST(Win32Files, BrokenPipeEndsTheInput) {
  HANDLE reader, writer;
  ASSERT_TRUE(CreatePipe(&reader, &writer, nullptr, 0));
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(writer, "un\r\ndeux", 8, &written, nullptr));
  CloseHandle(writer);

  char buffer[128];
  std::uint32_t count = 0;
  auto input = reinterpret_cast<os::Handle>(reader);
  ASSERT_TRUE(os::ReadFile(input, buffer, sizeof buffer, &count));
  EXPECT_EQ(count, 8u);
  EXPECT_FALSE(os::ReadFile(input, buffer, sizeof buffer, &count));
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(os::GetLastError(), os::ErrorBrokenPipe);
  CloseHandle(reader);

  // Through the stream: two lines, then the end, and no error pending.
  ASSERT_TRUE(CreatePipe(&reader, &writer, nullptr, 0));
  ASSERT_TRUE(WriteFile(writer, "un\r\ndeux", 8, &written, nullptr));
  CloseHandle(writer);
  TextStream stream;
  stream.kind = StreamKind::File;
  stream.handle = reinterpret_cast<os::Handle>(reader);
  stream.mode = StreamMode::Input;
  std::string line;
  ASSERT_FALSE(AtEnd(stream));
  ReadLine(stream, line);
  EXPECT_EQ(line, "un");
  ReadLine(stream, line);
  EXPECT_EQ(line, "deux");
  EXPECT_TRUE(AtEnd(stream));
  EXPECT_EQ(InOutResult, 0u);
  CloseHandle(reader);
}

// A write to a pipe whose reader has gone fails with ERROR_NO_DATA (232).
// (Wine gives 232 for its own pipes too; only a pipe of the host system, as
// the end-to-end tests use, gives 233 under wine.)
TEST(Win32Files, WriteWithoutReaderFails) {
  HANDLE reader, writer;
  ASSERT_TRUE(CreatePipe(&reader, &writer, nullptr, 0));
  CloseHandle(reader);
  EXPECT_FALSE(os::WriteFile(reinterpret_cast<os::Handle>(writer), "x", 1));
  EXPECT_EQ(os::GetLastError(), static_cast<std::uint32_t>(ERROR_NO_DATA));
  CloseHandle(writer);
}

class LogFileCreation : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, folder), 0u);
    ASSERT_NE(GetTempFileNameA(folder, "txs", 0, path_), 0u);
  }
  void TearDown() override { DeleteFileA(path_); }
  char path_[MAX_PATH] = {};
};

TEST_F(LogFileCreation, EmptiesAnExistingFileAndLetsOthersOnlyRead) {
  HANDLE old = CreateFileA(path_, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(old, "ancien contenu", 14, &written, nullptr));
  CloseHandle(old);

  os::Handle log = os::CreateLogFile(path_);
  ASSERT_NE(log, os::InvalidHandle);
  EXPECT_EQ(os::GetFileType(log), os::FileTypeDisk);
  EXPECT_TRUE(os::WriteFile(log, "ligne\r\n", 7));

  // Others may read it, not write it.
  HANDLE reading = CreateFileA(path_, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(reading, INVALID_HANDLE_VALUE);
  char content[32] = {};
  DWORD got = 0;
  EXPECT_TRUE(ReadFile(reading, content, sizeof content, &got, nullptr));
  EXPECT_EQ(std::string(content, got), "ligne\r\n");
  CloseHandle(reading);
  HANDLE writing = CreateFileA(path_, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(writing, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(os::CloseHandle(log));
  EXPECT_FALSE(os::CloseHandle(log));
  EXPECT_EQ(os::GetLastError(), static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
}

TEST_F(LogFileCreation, MissingFolderGivesTheSystemCode) {
  std::string name = std::string(path_) + "\\absent\\txtSHADE.log";
  EXPECT_EQ(os::CreateLogFile(name.c_str()), os::InvalidHandle);
  EXPECT_EQ(os::GetLastError(), os::ErrorPathNotFound);
}

std::string ProgramFileName() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string name(path, length);
  return name.substr(name.find_last_of("\\/") + 1);
}

TEST(Win32Modules, DescribesAPlaceInTheProgram) {
  char module[64];
  std::uintptr_t offset = 0;
  auto place = reinterpret_cast<const void*>(&ProgramFileName);
  os::DescribeAddress(place, module, sizeof module, &offset);
  EXPECT_EQ(std::string(module), ProgramFileName());
  EXPECT_EQ(offset, reinterpret_cast<std::uintptr_t>(place) -
                        reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)));
}

TEST(Win32Modules, DescribesAPlaceInASystemLibrary) {
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  ASSERT_NE(kernel32, nullptr);
  auto place = reinterpret_cast<const void*>(GetProcAddress(kernel32, "GetFileType"));
  char module[64];
  std::uintptr_t offset = 0;
  os::DescribeAddress(place, module, sizeof module, &offset);
  EXPECT_STRCASEEQ(module, "kernel32.dll");
  EXPECT_EQ(offset,
            reinterpret_cast<std::uintptr_t>(place) - reinterpret_cast<std::uintptr_t>(kernel32));
}

TEST(Win32Modules, CutsTheNameToTheRoomGiven) {
  char module[5] = "####";
  std::uintptr_t offset = 0;
  os::DescribeAddress(reinterpret_cast<const void*>(&ProgramFileName), module, 4, &offset);
  EXPECT_EQ(std::string(module), ProgramFileName().substr(0, 3));
  EXPECT_EQ(module[4], '\0');
  os::DescribeAddress(reinterpret_cast<const void*>(&ProgramFileName), module, 1, &offset);
  EXPECT_EQ(module[0], '\0');
}

TEST(Win32Failures, TheProgramReportsWhenNoDebuggerWantsTheFailure) {
  ASSERT_FALSE(IsDebuggerPresent());
  EXPECT_TRUE(os::OfferUnhandledFailure());
}

// ---------------------------------------------------------------------------
// Processor faults, each in a child process.

using Win32FaultsDeathTest = ::testing::Test;

// Writes what the platform layer reported, then ends the process.
void PrintFault(const os::FaultInfo& fault) {
  std::fprintf(stderr, "kind=%d write=%d access=%p code-in-program=%d\n",
               static_cast<int>(fault.kind), fault.isWrite ? 1 : 0, fault.accessAddress,
               fault.codeAddress == nullptr ? 0 : 1);
  std::fflush(stderr);
  os::ExitProcess(7);
}

volatile int* volatile NowhereToRead = reinterpret_cast<int*>(0x10);
volatile int* volatile NowhereToWrite = reinterpret_cast<int*>(0x20);
volatile int Zero = 0;
volatile int Seven = 7;  // 1 / x would be compiled without a division
volatile int Sink = 0;

void ReadNowhere() {
  Sink = *NowhereToRead;
}

void WriteNowhere() {
  *NowhereToWrite = 1;
}

void DivideByZero() {
  Sink = Seven / Zero;
}

// Endless on purpose: it stops at the end of the stack.
#pragma GCC diagnostic ignored "-Winfinite-recursion"
__attribute__((noinline)) int Recurse(int depth) {
  volatile char block[4096];
  block[0] = static_cast<char>(depth);
  return Recurse(depth + 1) + block[0];
}

void OverflowTheStack() {
  Sink = Recurse(0);
}

void ExecuteIllegalInstruction() {
  __asm__ volatile("ud2");
}

TEST_F(Win32FaultsDeathTest, AccessViolationsReachTheFaultHandler) {
  EXPECT_EXIT(
      {
        os::StartUp(0, nullptr, PrintFault);
        ReadNowhere();
      },
      ::testing::ExitedWithCode(7), "kind=0 write=0 access=0*10 code-in-program=1");
  EXPECT_EXIT(
      {
        os::StartUp(0, nullptr, PrintFault);
        WriteNowhere();
      },
      ::testing::ExitedWithCode(7), "kind=0 write=1 access=0*20 code-in-program=1");
}

TEST_F(Win32FaultsDeathTest, DivisionByZeroAndIllegalInstructionsReachTheFaultHandler) {
  EXPECT_EXIT(
      {
        os::StartUp(0, nullptr, PrintFault);
        DivideByZero();
      },
      ::testing::ExitedWithCode(7), "kind=1 ");
  EXPECT_EXIT(
      {
        os::StartUp(0, nullptr, PrintFault);
        ExecuteIllegalInstruction();
      },
      ::testing::ExitedWithCode(7), "kind=2 ");
}

TEST_F(Win32FaultsDeathTest, AStackOverflowIsHandledOnAFreshStack) {
  EXPECT_EXIT(
      {
        os::StartUp(0, nullptr, PrintFault);
        OverflowTheStack();
      },
      ::testing::ExitedWithCode(7), "kind=0 write=1 ");
  EXPECT_EXIT(
      {
        os::StartUp(0, nullptr, HandleFault);
        TryFinally(OverflowTheStack, [] {
          DWORD written = 0;
          WriteFile(GetStdHandle(STD_ERROR_HANDLE), "clean-up\r\n", 10, &written, nullptr);
        });
      },
      ::testing::ExitedWithCode(1), "^clean-up\\s+Exception EAccessViolation dans le module ");
}

TEST_F(Win32FaultsDeathTest, CxxExceptionsAreNotTakenForFaults) {
  EXPECT_EXIT(
      {
        os::StartUp(0, nullptr, PrintFault);
        int caught = 0;
        try {
          throw EConvertError("x");
        } catch (const Exception&) {
          caught = 1;
        }
        os::ExitProcess(caught == 1 ? 5 : 6);
      },
      ::testing::ExitedWithCode(5), "");
}

TEST_F(Win32FaultsDeathTest, AnAccessViolationIsReportedAsEAccessViolation) {
  if (GetOEMCP() != 850) GTEST_SKIP() << "needs OEM code page 850";
  // The report is in the OEM code page 850: \x8A is è, \x85 is à.
  EXPECT_EXIT(
      {
        os::StartUp(0, nullptr, HandleFault);
        WriteNowhere();
      },
      ::testing::ExitedWithCode(1),
      "^Exception EAccessViolation dans le module txtshade_tests\\.exe dans \\w+\\.\\s+"
      "Violation d'acc\x8As \x85 l'adresse \\w+ dans le module 'txtshade_tests\\.exe'\\. "
      "Ecriture de l'adresse 0*20\\.\\s+$");
}

TEST_F(Win32FaultsDeathTest, TheActiveCleanUpRunsBeforeTheReport) {
  EXPECT_EXIT(
      {
        os::StartUp(0, nullptr, HandleFault);
        TryFinally(ReadNowhere, [] {
          DWORD written = 0;
          WriteFile(GetStdHandle(STD_ERROR_HANDLE), "clean-up\r\n", 10, &written, nullptr);
        });
      },
      ::testing::ExitedWithCode(1),
      "^clean-up\\s+Exception EAccessViolation .*\\s+Violation .*Lecture de l'adresse "
      "0*10\\.\\s+$");
}

// While a debugger is attached the system gets the failure: no report, no
// clean-up, and the process ends by the system's own handling. Wine's
// UnhandledExceptionFilter tells a debugger by the flag in the process
// environment block, which the tests set; Windows asks the kernel for a debug
// port, so there these tests would need a real debugger and are skipped.
bool UnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void PretendADebuggerIsAttached() {
  using GetPebFunction = PEB*(WINAPI*)();
  auto getPeb = reinterpret_cast<GetPebFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetCurrentPeb")));
  getPeb()->BeingDebugged = TRUE;
}

void CleanUpLoudly() {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), "clean-up\r\n", 10, &written, nullptr);
}

TEST_F(Win32FaultsDeathTest, WithADebuggerAFaultGoesToTheSystem) {
  if (!UnderWine()) GTEST_SKIP() << "needs a real debugger on Windows";
  EXPECT_EXIT(
      {
        os::StartUp(0, nullptr, HandleFault);
        PretendADebuggerIsAttached();
        TryFinally(WriteNowhere, CleanUpLoudly);
      },
      ::testing::ExitedWithCode(static_cast<int>(EXCEPTION_ACCESS_VIOLATION)), "^$");
}

// (Only the platform's two steps: with wine's debugger flag set, wine's C++
// exceptions themselves go astray, so RunProgram cannot be run that way.)
TEST_F(Win32FaultsDeathTest, WithADebuggerAFailureGoesToTheSystem) {
  if (!UnderWine()) GTEST_SKIP() << "needs a real debugger on Windows";
  EXPECT_EXIT(
      {
        os::StartUp(0, nullptr, HandleFault);
        PretendADebuggerIsAttached();
        if (os::OfferUnhandledFailure()) os::ExitProcess(9);
        os::PassFailureToSystem();
      },
      // The code with which the program raises its own failures.
      ::testing::ExitedWithCode(static_cast<int>(0xE0747873)), "^$");
}

// A process without standard output, as Windows starts one when it is given
// none, has a null handle: GetFileType answers 0, the open fails with 105,
// and closing the stream that never opened replaces it with 103.
TEST_F(Win32FaultsDeathTest, ANullStandardOutputIsReportedWith103) {
  EXPECT_EXIT(
      {
        os::StartUp(0, nullptr, HandleFault);
        SetStdHandle(STD_OUTPUT_HANDLE, nullptr);
        os::ExitProcess(RunProgram(TxtShadeRun));
      },
      ::testing::ExitedWithCode(1),
      "^Exception EInOutError dans le module txtshade_tests\\.exe dans \\w+\\.\\s+"
      "Erreur E/S 103\\.\\s+$");
}

}  // namespace
