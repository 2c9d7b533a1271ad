// Failures: their messages, the clean-up blocks and the report.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>

#include "platform/failure.h"
#include "platform/textstream.h"
#include "txtSHADE.h"

namespace {

TEST(InOutErrorMessage, NamedCodesAndTheRest) {
  const std::pair<std::uint32_t, const char*> cases[] = {
      {2, "Fichier introuvable"},
      {3, "Nom de fichier incorrect"},
      {4, "Trop de fichiers ouverts"},
      {5, "Accès au fichier refusé"},
      {100, "Lecture au-delà de la fin de fichier"},
      {101, "Disque plein"},
      {106, "Saisie numérique incorrecte"},
      {112, "Erreur E/S 112"},  // a full disk as the system reports it
      {103, "Erreur E/S 103"},
      {232, "Erreur E/S 232"},
  };
  for (const auto& [code, message] : cases) EXPECT_EQ(InOutErrorMessage(code), message);
}

std::string Report(const char* className, std::string_view message) {
  char report[MaxReportLength + 1];
  std::size_t length = FormatFailureReport(report, className, nullptr, message);
  EXPECT_EQ(length, std::strlen(report));
  return std::string(report, length);
}

TEST(FormatFailureReport, TwoLinesAndOneFinalStop) {
  const std::regex form(
      "Exception EInOutError dans le module [^ ]+ dans [0-9A-F]{8}\\.\r\n"
      "Erreur E/S 232\\.\r\n");
  EXPECT_TRUE(std::regex_match(Report("EInOutError", "Erreur E/S 232"), form));
  EXPECT_TRUE(Report("Exception", "Fin.").size() > 0);
  EXPECT_NE(Report("Exception", "Fin.").find("\r\nFin.\r\n"), std::string::npos);
  EXPECT_NE(Report("Exception", "").find(".\r\n\r\n"), std::string::npos);  // no stop added
}

TEST(FormatFailureReport, CutAt1023Characters) {
  std::string report = Report("EConvertError", std::string(5000, 'v'));
  EXPECT_EQ(report.size(), MaxReportLength);
  EXPECT_EQ(report.back(), 'v');
}

std::string Trace;
void Body() {
  Trace += "body ";
}
void FailingBody() {
  Trace += "body ";
  throw EConvertError("first");
}
void Cleanup() {
  Trace += "cleanup ";
}
void FailingCleanup() {
  Trace += "cleanup ";
  throw EInOutError(103, nullptr);
}
void Inner() {
  TryFinally(FailingBody, FailingCleanup);
}

TEST(TryFinally, TheCleanupRunsOnEveryWayOut) {
  Trace.clear();
  TryFinally(Body, Cleanup);
  EXPECT_EQ(Trace, "body cleanup ");
  Trace.clear();
  EXPECT_THROW(TryFinally(FailingBody, Cleanup), EConvertError);
  EXPECT_EQ(Trace, "body cleanup ");
}

TEST(TryFinally, AFailingCleanupReplacesTheFailureAndOuterBlocksStillRun) {
  Trace.clear();
  EXPECT_THROW(TryFinally(Inner, Cleanup), EInOutError);
  EXPECT_EQ(Trace, "body cleanup cleanup ");
}

void FailWithIoError() {
  InOutResult = 232;
  IOCheck();
}
void RunOutOfMemory() {
  throw std::bad_alloc();
}

// `text` as the capture of standard error gives it back when the report's own
// road writes it: GoogleTest reads the capture in text mode, which turns CR LF
// into LF on Windows and changes nothing on POSIX.
std::string AsCaptured(const std::string& text) {
  testing::internal::CaptureStderr();
  os::WriteFile(os::GetStdHandle(os::StdErrorHandle), text.data(),
                static_cast<std::uint32_t>(text.size()));
  return testing::internal::GetCapturedStderr();
}

TEST(RunProgram, ExitStatusAndOneReportOnStandardError) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(RunProgram(Body), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  testing::internal::CaptureStderr();
  EXPECT_EQ(RunProgram(FailWithIoError), 1);
  std::string ioReport = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(std::regex_match(
      ioReport, std::regex(AsCaptured("Exception EInOutError dans le module [^ ]+ dans "
                                      "[0-9A-F]{8}\\.\r\nErreur E/S 232\\.\r\n\r\n"))));

  testing::internal::CaptureStderr();
  EXPECT_EQ(RunProgram(RunOutOfMemory), 1);
  std::string report = testing::internal::GetCapturedStderr();
  EXPECT_NE(report.find("Exception EOutOfMemory dans le module "), std::string::npos);
  // In the console's code page, as the report is written.
  EXPECT_NE(report.find(AsCaptured(ConvertCharSet(ToOem, "\r\nMémoire insuffisante.\r\n\r\n"))),
            std::string::npos);
}

}  // namespace
