// Splitting a whole command-line text into parameters.
//
// Separators are the bytes 1 to 32. Pairs of double quotes that stand before
// a parameter are skipped. A double quote opens a stretch, closed by the next
// one, in which separators belong to the parameter; the quotes themselves are
// dropped, and a stretch never closed runs to the end of the text. The text is
// walked one character at a time, so that the second byte of a double-byte
// character is never taken for a separator or a quote.
#pragma once

#include <string>
#include <vector>

// Steps over one character of `text`; at the terminating zero it stays there.
using CharNextFunction = const char* (*)(const char* text);

// One byte, one character: the walk for single-byte code pages and UTF-8.
const char* NextByte(const char* text);

// All parameters of the zero-terminated `commandLine`, the program's own name
// first. No parameter is empty.
std::vector<std::string> SplitCommandLine(const char* commandLine, CharNextFunction charNext);
