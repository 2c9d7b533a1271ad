#include "txtSHADE.h"

#include <cstring>

#include "platform/failure.h"

std::vector<std::string> SearchTerms;
std::int32_t SearchTermCount = 0;
std::int32_t HighlightColour = DefaultHighlightColour;
bool LogEnabled = false;
TextStream LogFile;
std::string LogFileName;
os::Handle ConsoleOutput = os::InvalidHandle;
os::ScreenBufferInfo SavedScreenInfo;
std::string CurrentLine;

namespace {

const char DefaultLogFileName[] = "txtSHADE.log";
const char LogCreationFailed[] = "txtSHADE: Erreur dans la création du fichier de sortie";

// ---------------------------------------------------------------------------
// Code pages and matching.

// ConvertCharSet into a buffer that the caller keeps, so that a line costs no
// allocation once the buffer has grown to the longest line.
void ConvertCharSetInto(std::uint8_t direction, const std::string& text, std::string& result) {
  result.assign(text);
  if (result.empty()) return;
  auto length = static_cast<std::uint32_t>(result.size());
  if (direction == ToOem) os::CharToOemBuffA(&result[0], length);
  if (direction == ToAnsi) os::OemToCharBuffA(&result[0], length);
}

void UpperCaseInPlace(std::string& text) {
  if (!text.empty()) os::CharUpperBuffA(&text[0], static_cast<std::uint32_t>(text.size()));
}

// Knuth-Morris-Pratt from `start` on: linear whatever the term and the text.
std::size_t SearchFrom(const char* term, std::size_t termLength, const char* text,
                       std::size_t textLength, std::size_t start) {
  static std::vector<std::size_t> border;  // border[k]: longest proper border of term[0..k]
  border.assign(termLength, 0);
  for (std::size_t k = 1, b = 0; k < termLength; ++k) {
    while (b > 0 && term[k] != term[b]) b = border[b - 1];
    if (term[k] == term[b]) ++b;
    border[k] = b;
  }
  for (std::size_t i = start, matched = 0; i < textLength; ++i) {
    while (matched > 0 && text[i] != term[matched]) matched = border[matched - 1];
    if (text[i] == term[matched]) ++matched;
    if (matched == termLength) return i + 2 - termLength;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// The command line.

// Bytes a..z to A..Z, nothing else: the program's own name in capitals.
std::string AsciiUpperCase(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

void SetColourFrom(const std::string& option, std::size_t markPosition) {
  std::int32_t colour = StrToInt(option.substr(markPosition + 2));
  if (colour >= 0 && colour <= 15) HighlightColour = colour;
}

// Creates the log named `name` and makes it the match log. An earlier log,
// to which nothing has been written yet, is closed and stays empty.
void CreateLog(const std::string& name) {
  TextStream log;
  AssignFile(log, name);
  RewriteFile(log);
  IOCheck();
  if (LogEnabled) os::CloseHandle(LogFile.handle);
  LogFile = log;
  LogEnabled = true;
}

void OpenLog(const std::string& parameter, std::size_t markPosition) {
  LogFileName = parameter.substr(markPosition + 2);
  if (LogFileName.empty()) LogFileName = DefaultLogFileName;
  try {
    CreateLog(LogFileName);
  } catch (...) {
    WriteLine(StandardOutput, ConvertCharSet(ToOem, LogCreationFailed));
    IOCheck();
  }
}

// ---------------------------------------------------------------------------
// The run.

void WriteUsageLine(const std::string& text) {
  WriteLine(StandardOutput, ConvertCharSet(ToOem, text));
  IOCheck();
}

void WriteBlankUsageLine() {
  WriteLine(StandardOutput, " ", 1);
  IOCheck();
}

void FilterLines() {
  static std::string logLine;
  for (;;) {
    bool atEnd = AtEnd(StandardInput);
    IOCheck();
    if (atEnd) break;
    ReadLine(StandardInput, CurrentLine);
    IOCheck();
    if (LineMatches(CurrentLine)) {
      if (LogEnabled) {
        ConvertCharSetInto(ToAnsi, CurrentLine, logLine);
        WriteLine(LogFile, logLine);
        IOCheck();
      }
      os::SetConsoleTextAttribute(ConsoleOutput, static_cast<std::uint16_t>(HighlightColour));
    } else {
      os::SetConsoleTextAttribute(ConsoleOutput, SavedScreenInfo.wAttributes);
    }
    WriteLine(StandardOutput, CurrentLine);
    IOCheck();
  }
}

void CloseLog() {
  if (!LogEnabled) return;
  CloseStream(LogFile);
  IOCheck();
}

void OpenStreamsAndRun() {
  OpenStandardInput(StandardInput);
  IOCheck();
  OpenStandardOutput(StandardOutput);
  IOCheck();
  if (ParseParameters())
    TryFinally(FilterLines, CloseLog);
  else
    ShowUsage();
}

void RestoreConsoleAndCloseStreams() {
  os::SetConsoleTextAttribute(ConsoleOutput, SavedScreenInfo.wAttributes);
  CloseStream(StandardInput);
  IOCheck();
  CloseStream(StandardOutput);
  IOCheck();
}

}  // namespace

std::string ConvertCharSet(std::uint8_t direction, const std::string& text) {
  std::string result;
  ConvertCharSetInto(direction, text, result);
  return result;
}

std::string AnsiUpperCase(const std::string& text) {
  std::string result(text);
  UpperCaseInPlace(result);
  return result;
}

std::size_t SubstringPosition(const std::string& term, const std::string& text) {
  const std::size_t termLength = term.size(), textLength = text.size();
  if (termLength == 0 || textLength == 0 || termLength > textLength) return 0;
  const char* t = term.data();
  const char* s = text.data();
  const std::size_t lastStart = textLength - termLength;
  // Jump to each occurrence of the term's first byte and compare from there.
  // When comparing costs more than a few passes over the text, switch to
  // Knuth-Morris-Pratt, so that no term and text make this quadratic.
  std::size_t compared = 0;
  for (std::size_t i = 0; i <= lastStart; ++i) {
    const void* hit = std::memchr(s + i, t[0], lastStart - i + 1);
    if (hit == nullptr) return 0;
    i = static_cast<std::size_t>(static_cast<const char*>(hit) - s);
    std::size_t k = 1;
    while (k < termLength && s[i + k] == t[k]) ++k;
    if (k == termLength) return i + 1;
    compared += k;
    if (compared > 4 * i + 256) return SearchFrom(t, termLength, s, textLength, i + 1);
  }
  return 0;
}

bool LineMatches(const std::string& line) {
  static std::string upper;
  ConvertCharSetInto(ToAnsi, line, upper);
  UpperCaseInPlace(upper);
  for (std::int32_t i = 0; i < SearchTermCount; ++i)
    if (SubstringPosition(SearchTerms[static_cast<std::size_t>(i)], upper) == 0) return false;
  return true;
}

std::int32_t StrToInt(const std::string& text) {
  const std::size_t length = text.size();
  std::size_t i = 0;
  while (i < length && text[i] == ' ') ++i;
  bool negative = false;
  if (i < length && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  bool hexadecimal = false;
  if (i < length && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    hexadecimal = true;
    ++i;
  } else if (i + 1 < length && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hexadecimal = true;
    i += 2;
  }
  const std::uint64_t limit = hexadecimal ? 0xFFFFFFFFu : negative ? 2147483648u : 2147483647u;
  std::uint64_t value = 0;
  const std::size_t firstDigit = i;
  for (; i < length; ++i) {
    char c = text[i];
    unsigned digit;
    if (c >= '0' && c <= '9')
      digit = static_cast<unsigned>(c - '0');
    else if (hexadecimal && c >= 'A' && c <= 'F')
      digit = static_cast<unsigned>(c - 'A' + 10);
    else if (hexadecimal && c >= 'a' && c <= 'f')
      digit = static_cast<unsigned>(c - 'a' + 10);
    else
      break;
    value = value * (hexadecimal ? 16 : 10) + digit;
    if (value > limit) break;
  }
  if (i == firstDigit || i != length || value > limit)
    throw EConvertError("'" + text + "' n'est pas une valeur entière correcte");
  // Hexadecimal digits give the 32 bits of a two's-complement number.
  auto bits = static_cast<std::uint32_t>(value);
  if (negative) bits = 0u - bits;
  return static_cast<std::int32_t>(bits);
}

bool ParseParameters(const std::vector<std::string>& parameters) {
  bool result = false;
  SearchTermCount = static_cast<std::int32_t>(parameters.size());
  if (SearchTermCount == 0) return false;
  SearchTerms.assign(parameters.size(), std::string());
  std::size_t nextTerm = 0;
  for (const std::string& parameter : parameters) {
    const std::string upper = AnsiUpperCase(parameter);
    if (SubstringPosition("/?", upper) != 0) return false;
    if (std::size_t colourMark = SubstringPosition("/C:", upper)) {
      --SearchTermCount;
      try {
        SetColourFrom(upper, colourMark);
      } catch (...) {
        // A value that is not a colour leaves the colour as it was.
      }
    } else if (std::size_t logMark = SubstringPosition("/L:", upper)) {
      --SearchTermCount;
      OpenLog(parameter, logMark);
    } else {
      SearchTerms[nextTerm++] = upper;
      result = true;
    }
  }
  return result;
}

bool ParseParameters() {
  return ParseParameters(os::CommandLineParameters());
}

void ShowUsage() {
  WriteUsageLine(AsciiUpperCase("txtSHADE") + " v1.0 " + "(c) 2026 les auteurs de txtSHADE");
  WriteUsageLine("Colorie les lignes contenant toutes les chaînes recherchées");
  WriteBlankUsageLine();
  WriteUsageLine("Syntaxe    : cmd [params] | txtshade chaîne [chaîne2] [/C:n] [/L:[name]]");
  WriteBlankUsageLine();
  WriteUsageLine("  cmd      : commande à exécuter");
  WriteUsageLine("  params   : paramètres classiques de la commande");
  WriteUsageLine("  chaîne   : spécifie la chaîne à rechercher (casse ignorée)");
  WriteUsageLine("  chaîne2  : spécifie d'autres chaînes à rechercher (AND)");
  WriteUsageLine("  /C:n     : modifie la couleur par défaut (n = 0 à 15)");
  WriteUsageLine("  /L:name  : crée un fichier log (défaut : txtSHADE.log)");
  WriteBlankUsageLine();
  WriteUsageLine("             Les chaînes \"/C:\" et \"/L:\" sont réservées aux paramètres");
  WriteBlankUsageLine();
  WriteUsageLine("  Exemples : dir | txtshade .exe");
  WriteUsageLine("             dir %systemroot% /od | txtshade 08/2006 KB .log /l:\"KB Août.txt\"");
}

void TxtShadeRun() {
  ConsoleOutput = os::GetStdHandle(os::StdOutputHandle);
  os::GetConsoleScreenBufferInfo(ConsoleOutput, &SavedScreenInfo);
  TryFinally(OpenStreamsAndRun, RestoreConsoleAndCloseStreams);
}
