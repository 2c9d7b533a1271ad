#include "platform/cmdline.h"

namespace {

bool IsSeparator(char c) {
  unsigned char byte = static_cast<unsigned char>(c);
  return byte >= 1 && byte <= 32;
}

// Skips separators and the pairs of double quotes that stand alone before a parameter.
const char* SkipToParameter(const char* p) {
  for (;;) {
    while (IsSeparator(*p)) ++p;
    if (p[0] != '"' || p[1] != '"') return p;
    p += 2;
  }
}

}  // namespace

const char* NextByte(const char* text) {
  return *text != '\0' ? text + 1 : text;
}

std::vector<std::string> SplitCommandLine(const char* commandLine, CharNextFunction charNext) {
  std::vector<std::string> parameters;
  const char* p = commandLine;
  for (;;) {
    p = SkipToParameter(p);
    std::string parameter;
    bool quoted = false;
    while (*p != '\0' && (quoted || !IsSeparator(*p))) {
      const char* next = charNext(p);
      if (next == p) break;  // a walker that does not move: stop rather than loop
      if (*p == '"')
        quoted = !quoted;
      else
        parameter.append(p, static_cast<std::size_t>(next - p));
      p = next;
    }
    // Only a lone quote at the very end gives an empty parameter; it ends the list.
    if (parameter.empty()) return parameters;
    parameters.push_back(std::move(parameter));
  }
}
