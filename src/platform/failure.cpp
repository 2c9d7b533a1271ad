#include "platform/failure.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>

namespace {

const char OutOfMemoryMessage[] = "Mémoire insuffisante";

// A failure as the report needs it, kept without allocating, so that it can
// stand for an out-of-memory failure and be filled in a fault handler.
struct FailureRecord {
  const char* className = "Exception";
  const void* place = nullptr;
  char message[MaxReportLength + 1] = {};
};

void SetMessage(FailureRecord* record, std::string_view message) {
  std::size_t length = std::min(message.size(), sizeof record->message - 1);
  std::memcpy(record->message, message.data(), length);
  record->message[length] = '\0';
}

// Where operator new ran out of memory; set by the new-handler.
const void* OutOfMemoryPlace = nullptr;

void NoteOutOfMemory() {
  OutOfMemoryPlace = __builtin_return_address(0);
  throw std::bad_alloc();
}

// Records the failure currently being handled. Called only inside a catch.
void RecordCurrentFailure(FailureRecord* record) {
  try {
    throw;
  } catch (const Exception& failure) {
    record->className = failure.ClassName();
    record->place = failure.Place();
    SetMessage(record, failure.Message());
  } catch (const std::bad_alloc&) {
    record->className = "EOutOfMemory";
    record->place = OutOfMemoryPlace;
    SetMessage(record, OutOfMemoryMessage);
  } catch (const std::length_error&) {
    // A string that would outgrow the address space: out of memory too.
    record->className = "EOutOfMemory";
    record->place = nullptr;
    SetMessage(record, OutOfMemoryMessage);
  } catch (...) {
    record->className = "Exception";
    record->place = nullptr;
    SetMessage(record, "");
  }
}

// The failure last offered to the system, so that a failure passing through
// several clean-up blocks is offered once.
std::exception_ptr LastOffered;

// Before anything else is done about a failure that nothing in the program
// will catch, the system may claim it (a debugger does): it then gets it as
// it is, without clean-up or report. Called only inside a catch.
void OfferCurrentFailure() {
  std::exception_ptr current = std::current_exception();
  if (current == LastOffered) return;
  LastOffered = current;
  if (!os::OfferUnhandledFailure()) os::PassFailureToSystem();
}

// The clean-up blocks whose bodies are running, innermost last.
constexpr int MaxActiveCleanups = 16;
void (*ActiveCleanups[MaxActiveCleanups])();
int ActiveCleanupCount = 0;

void PushCleanup(void (*cleanup)()) {
  if (ActiveCleanupCount < MaxActiveCleanups) ActiveCleanups[ActiveCleanupCount] = cleanup;
  ++ActiveCleanupCount;
}

void PopCleanup() {
  --ActiveCleanupCount;
}

// Runs the active clean-up blocks innermost first; a failure in one of them
// replaces the failure in `record` and the outer blocks still run.
void RunActiveCleanups(FailureRecord* record) {
  while (ActiveCleanupCount > 0) {
    PopCleanup();
    if (ActiveCleanupCount >= MaxActiveCleanups) continue;
    try {
      ActiveCleanups[ActiveCleanupCount]();
    } catch (...) {
      RecordCurrentFailure(record);
    }
  }
}

// Writes the report straight to the standard error handle, converted to the
// console's code page. Lost without a trace when standard error is unusable.
void ReportFailure(const FailureRecord& record) {
  char report[MaxReportLength + 1];
  std::size_t length = FormatFailureReport(report, record.className, record.place, record.message);
  os::CharToOemA(report);
  os::Handle standardError = os::GetStdHandle(os::StdErrorHandle);
  os::WriteFile(standardError, report, static_cast<std::uint32_t>(length));
  os::WriteFile(standardError, "\r\n", 2);
}

void Append(char (&out)[MaxReportLength + 1], std::size_t* length, std::string_view text) {
  std::size_t room = MaxReportLength - *length;
  std::size_t count = std::min(text.size(), room);
  std::memcpy(out + *length, text.data(), count);
  *length += count;
}

// Formats an address as the report does: 8 uppercase hexadecimal digits,
// more only when the address does not fit in 32 bits.
std::string_view FormatAddress(char (&out)[20], std::uintptr_t address) {
  int length = std::snprintf(out, sizeof out, "%08llX", static_cast<unsigned long long>(address));
  return std::string_view(out, static_cast<std::size_t>(length));
}

std::string FaultMessage(const char* what, const os::FaultInfo& fault) {
  char module[256];
  std::uintptr_t offset = 0;
  os::DescribeAddress(fault.codeAddress, module, sizeof module, &offset);
  char code[20], access[20];
  std::string message = what;
  message += FormatAddress(code, reinterpret_cast<std::uintptr_t>(fault.codeAddress));
  message += " dans le module '";
  message += module;
  message += "'. ";
  message += fault.isWrite ? "Ecriture" : "Lecture";
  message += " de l'adresse ";
  message += FormatAddress(access, reinterpret_cast<std::uintptr_t>(fault.accessAddress));
  return message;
}

}  // namespace

std::string InOutErrorMessage(std::uint32_t errorCode) {
  switch (errorCode) {
    case 2:
      return "Fichier introuvable";
    case 3:
      return "Nom de fichier incorrect";
    case 4:
      return "Trop de fichiers ouverts";
    case 5:
      return "Accès au fichier refusé";
    case 100:
      return "Lecture au-delà de la fin de fichier";
    case 101:
      return "Disque plein";
    case 106:
      return "Saisie numérique incorrecte";
    default:
      return "Erreur E/S " + std::to_string(errorCode);
  }
}

EInOutError::EInOutError(std::uint32_t errorCode, const void* place)
    : Exception(InOutErrorMessage(errorCode), place), errorCode_(errorCode) {}

EOutOfMemory::EOutOfMemory(const void* place) : Exception(OutOfMemoryMessage, place) {}

EAccessViolation::EAccessViolation(const os::FaultInfo& fault)
    : EExternal(FaultMessage("Violation d'accès à l'adresse ", fault), fault.codeAddress) {}

EDivByZero::EDivByZero(const os::FaultInfo& fault)
    : EExternal("Division par zéro", fault.codeAddress) {}

EPrivilege::EPrivilege(const os::FaultInfo& fault)
    : EExternal("Instruction privilégiée", fault.codeAddress) {}

void TryFinally(void (*body)(), void (*cleanup)()) {
  PushCleanup(cleanup);
  try {
    body();
  } catch (...) {
    // The program catches failures only inside the bodies of clean-up
    // blocks, so one that reaches a clean-up block is uncaught.
    OfferCurrentFailure();
    PopCleanup();
    cleanup();  // a failure here takes the place of the one being handled
    throw;
  }
  PopCleanup();
  cleanup();
}

std::size_t FormatFailureReport(char (&out)[MaxReportLength + 1], const char* className,
                                const void* place, std::string_view message) {
  // Without a known place, name the program itself.
  if (place == nullptr) place = reinterpret_cast<const void*>(&RunProgram);
  char module[256];
  std::uintptr_t offset = 0;
  os::DescribeAddress(place, module, sizeof module, &offset);
  char offsetText[20];
  std::size_t length = 0;
  Append(out, &length, "Exception ");
  Append(out, &length, className);
  Append(out, &length, " dans le module ");
  Append(out, &length, module);
  Append(out, &length, " dans ");
  Append(out, &length, FormatAddress(offsetText, offset & 0xFFFFFFFFu));
  Append(out, &length, ".\r\n");
  Append(out, &length, message);
  if (!message.empty() && message.back() != '.') Append(out, &length, ".");
  Append(out, &length, "\r\n");
  out[length] = '\0';
  return length;
}

int RunProgram(void (*body)()) {
  std::set_new_handler(NoteOutOfMemory);
  FailureRecord record;
  try {
    body();
    return 0;
  } catch (...) {
    OfferCurrentFailure();
    RecordCurrentFailure(&record);
  }
  ReportFailure(record);
  return 1;
}

void HandleFault(const os::FaultInfo& fault) {
  FailureRecord record;
  try {
    switch (fault.kind) {
      case os::FaultKind::AccessViolation:
        throw EAccessViolation(fault);
      case os::FaultKind::DivideByZero:
        throw EDivByZero(fault);
      case os::FaultKind::IllegalInstruction:
        throw EPrivilege(fault);
    }
  } catch (...) {
    RecordCurrentFailure(&record);
  }
  RunActiveCleanups(&record);
  ReportFailure(record);
  os::ExitProcess(1);
}
