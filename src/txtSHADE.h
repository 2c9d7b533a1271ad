// txtSHADE: copies standard input to standard output line by line and shows
// in a highlight colour every line that holds all the search strings given on
// the command line, ignoring case; optionally logs the matching lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/textstream.h"

// The program's state, alive for the whole run.
extern std::vector<std::string> SearchTerms;  // upper-cased, in the command line's code page
extern std::int32_t SearchTermCount;          // the valid entries at the front of SearchTerms
extern std::int32_t HighlightColour;          // console attribute of matching lines
extern bool LogEnabled;
extern TextStream LogFile;
extern std::string LogFileName;
extern os::Handle ConsoleOutput;
extern os::ScreenBufferInfo SavedScreenInfo;
extern std::string CurrentLine;  // the line just read, as read, without its line end

constexpr std::int32_t DefaultHighlightColour = 11;  // intense cyan on black

// The directions of ConvertCharSet.
constexpr std::uint8_t ToOem = 0;   // from the command line's code page to the console's
constexpr std::uint8_t ToAnsi = 1;  // from the console's code page to the command line's

// A converted copy of `text`, of the same length; other directions copy unchanged.
std::string ConvertCharSet(std::uint8_t direction, const std::string& text);

// An upper-cased copy of `text`, of the same length, byte positions kept.
std::string AnsiUpperCase(const std::string& text);

// The 1-based position of the first occurrence of `term` in `text`, or 0; an
// empty term is never found. Linear in the lengths of both.
std::size_t SubstringPosition(const std::string& term, const std::string& text);

// True when `line`, read from standard input, holds every search term, case ignored.
bool LineMatches(const std::string& line);

// The integer in `text`: blanks, a sign, then decimal digits or hexadecimal
// ones after $, x or 0x, nothing after them, and 32 bits. Raises EConvertError.
std::int32_t StrToInt(const std::string& text);

// Reads the parameters: stores the search terms, sets the colour, creates the
// log. True when there is something to filter, false for the usage screen.
bool ParseParameters(const std::vector<std::string>& parameters);
bool ParseParameters();

// Writes the usage screen to standard output.
void ShowUsage();

// The whole run, from capturing the console to closing the standard streams.
void TxtShadeRun();
