#pragma once

#include <quelm/datafileformat.h>

#include <cstdint>
#include <string>
#include <string_view>

// Bars as text, for the import and export commands: times as ISO-8601 UTC with milliseconds,
// numbers in the shortest form that reads back to the same double.
namespace quelm::bartext {

// The column names of a CSV file of bars, in their order.
inline constexpr std::string_view csvHeader = "time,open,high,low,close,volume";
inline constexpr const char *columnNames[] = {"time", "open", "high", "low", "close", "volume"};

// The longest text the writers below produce.
inline constexpr std::size_t maxTimeLength = 40;
inline constexpr std::size_t maxNumberLength = 32;
inline constexpr std::size_t maxLineLength = 256;

// "2026-12-07T06:01:02.345Z". Years before 0 or after 9999 get a sign, as ISO-8601 writes them
// ("+12345-...", "-0001-..."), so that every 64-bit time has a text that reads back.
char *writeTime(char *out, std::int64_t ms);
// The same as a string, for messages.
std::string timeText(std::int64_t ms);
// std::to_chars' shortest round-trip form: "0.1", "-0", "1e+308", "5e-324", "inf", "nan".
char *writeNumber(char *out, double value);
// The same as a string, for messages.
std::string numberText(double value);
// One CSV line with its '\n'.
char *writeCsvLine(char *out, const Bar &bar);
// One JSON object with its '\n'; numbers that are not finite become null.
char *writeJsonLine(char *out, const Bar &bar);

} // namespace quelm::bartext
