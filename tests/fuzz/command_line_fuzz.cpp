// The command-line splitter, on arbitrary texts, walked byte by byte and with
// a double-byte code page, checked against a plain reference of the splitting
// rules written here and for the properties every split must have.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/cmdline.h"

namespace {

using Parameters = std::vector<std::string>;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "command line fuzz: %s\n", what);
  std::abort();
}

// Lead bytes of a made-up double-byte code page, laid out as Shift JIS's.
bool IsLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// A lead byte and the byte after it form one character, unless that byte is
// the terminating zero.
const char* NextDoubleByte(const char* text) {
  if (*text == '\0') return text;
  if (IsLeadByte(static_cast<unsigned char>(*text)) && text[1] != '\0') return text + 2;
  return text + 1;
}

bool IsBlank(unsigned char byte) {
  return byte >= 1 && byte <= 32;
}

// The splitting rules, character by character: separators (bytes 1 to 32)
// and whole pairs of double quotes are skipped before a parameter; a double
// quote switches a quoted stretch on or off and is dropped; a separator ends
// the parameter outside a quoted stretch; the end of the text ends it too.
Parameters ReferenceSplit(const std::string& text, bool doubleByte) {
  // Cut the text into characters first.
  std::vector<std::string> characters;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = 1;
    if (doubleByte && IsLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size())
      length = 2;
    characters.push_back(text.substr(i, length));
    i += length;
  }
  auto isQuote = [&](std::size_t k) { return k < characters.size() && characters[k] == "\""; };
  auto isBlank = [&](std::size_t k) {
    return k < characters.size() && characters[k].size() == 1 &&
           IsBlank(static_cast<unsigned char>(characters[k][0]));
  };

  Parameters parameters;
  std::size_t k = 0;
  for (;;) {
    while (isBlank(k) || (isQuote(k) && isQuote(k + 1))) k += isBlank(k) ? 1 : 2;
    if (k == characters.size()) return parameters;
    std::string parameter;
    bool quoted = false;
    for (; k < characters.size() && (quoted || !isBlank(k)); ++k) {
      if (isQuote(k))
        quoted = !quoted;
      else
        parameter += characters[k];
    }
    if (parameter.empty()) {
      // Only a lone double quote right at the end can give nothing.
      if (k != characters.size()) Fail("reference: an empty parameter before the end");
      return parameters;
    }
    parameters.push_back(parameter);
  }
}

void Check(const std::string& text, CharNextFunction walker, bool doubleByte) {
  Parameters parameters = SplitCommandLine(text.c_str(), walker);
  if (parameters != ReferenceSplit(text, doubleByte)) Fail("the split differs from the reference");

  std::size_t bytes = 0;
  for (const std::string& parameter : parameters) {
    if (parameter.empty()) Fail("an empty parameter");
    bytes += parameter.size();
    if (!doubleByte && parameter.find('"') != std::string::npos)
      Fail("a double quote inside a parameter");
  }
  // Nothing is invented: the parameters hold at most the text's bytes.
  if (bytes > text.size()) Fail("the parameters are longer than the text");
  // Splitting the parameters joined by blanks, each quoted, gives them back
  // when walked byte by byte (no parameter holds a double quote then).
  if (!doubleByte) {
    std::string joined;
    for (const std::string& parameter : parameters) joined += " \"" + parameter + "\"";
    if (SplitCommandLine(joined.c_str(), walker) != parameters)
      Fail("quoted parameters do not split back");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The command line is a zero-terminated text: it ends at the first zero.
  std::string text(reinterpret_cast<const char*>(data), size);
  text = text.substr(0, text.find('\0'));
  Check(text, NextByte, false);
  Check(text, NextDoubleByte, true);
  return 0;
}
