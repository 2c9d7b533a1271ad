// Failure classes, clean-up blocks and the report of an uncaught failure.
//
// A failure is a C++ exception of a class derived from Exception. Clean-up
// blocks (TryFinally) run on every way out of their body; a failure raised by
// a clean-up block replaces the one being handled, and the outer blocks still
// run. Whatever reaches RunProgram uncaught ends the run with one report on
// standard error and exit status 1. Processor faults take the same road: the
// clean-up blocks that are active when the fault arises run, then the report.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

class Exception {
 public:
  explicit Exception(std::string message, const void* place = nullptr)
      : message_(std::move(message)), place_(place) {}
  virtual ~Exception() = default;

  virtual const char* ClassName() const { return "Exception"; }
  const std::string& Message() const { return message_; }
  // Where the failure arose: a code address, or null when unknown.
  const void* Place() const { return place_; }

 private:
  std::string message_;
  const void* place_;
};

// A failed stream operation, raised by the I/O check with the pending code.
class EInOutError : public Exception {
 public:
  EInOutError(std::uint32_t errorCode, const void* place);
  const char* ClassName() const override { return "EInOutError"; }
  std::uint32_t ErrorCode() const { return errorCode_; }

 private:
  std::uint32_t errorCode_;
};

// A text that is not an integer.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const override { return "EConvertError"; }
};

class EOutOfMemory : public Exception {
 public:
  explicit EOutOfMemory(const void* place);
  const char* ClassName() const override { return "EOutOfMemory"; }
};

// Faults that the processor or the system reports.
class EExternal : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const override { return "EExternal"; }
};

class EAccessViolation : public EExternal {
 public:
  explicit EAccessViolation(const os::FaultInfo& fault);
  const char* ClassName() const override { return "EAccessViolation"; }
};

class EDivByZero : public EExternal {
 public:
  explicit EDivByZero(const os::FaultInfo& fault);
  const char* ClassName() const override { return "EDivByZero"; }
};

class EPrivilege : public EExternal {
 public:
  explicit EPrivilege(const os::FaultInfo& fault);
  const char* ClassName() const override { return "EPrivilege"; }
};

// The message of an I/O error code, as the report shows it.
std::string InOutErrorMessage(std::uint32_t errorCode);

// Runs `body`, then `cleanup`, on every way out of `body`. While `body` runs
// the clean-up is also known to the fault handler. The program catches
// failures only inside such bodies, so a failure that reaches a clean-up
// block is uncaught: it is first offered to the system, which may take it
// as it is (a debugger does), before any clean-up runs.
void TryFinally(void (*body)(), void (*cleanup)());

// The report is at most this long, its terminating zero not counted.
constexpr std::size_t MaxReportLength = 1023;

// Writes the two report lines for a failure of class `className`, each ended
// by CR LF and cut at MaxReportLength, into `out` with a terminating zero;
// returns their length. Allocates nothing.
std::size_t FormatFailureReport(char (&out)[MaxReportLength + 1], const char* className,
                                const void* place, std::string_view message);

// Runs the program's body and turns an uncaught failure into the report.
// Returns the exit status: 0 after a normal run, 1 after a reported failure.
int RunProgram(void (*body)());

// The fault handler that StartUp is given: runs the active clean-up blocks,
// writes the report and ends the process with status 1.
[[noreturn]] void HandleFault(const os::FaultInfo& fault);
