#pragma once
// Text is Windows-1252 bytes in std::string, never re-encoded. Every comparison of names
// (nicks, channels, command words, service and language names) goes through these helpers.

#include <string>
#include <string_view>

// Lower-cases one Windows-1252 byte ("Ä" becomes "ä"); never pass a plain char to std::tolower.
unsigned char LowerByte(unsigned char c);
std::string LowerCase(std::string_view Text);
// Case-insensitive equality: both sides lower-cased with the one table, then compared exactly.
bool EqualsNoCase(std::string_view a, std::string_view b);
// Case-insensitive search; the position of the first match at or after From, or npos.
std::size_t FindNoCase(std::string_view Text, std::string_view What, std::size_t From = 0);

// The numeric value of a text: its leading number (optional spaces, sign, digits, fraction),
// 0 when it has none. "12abc" is 12, "abc" is 0.
double NumericValue(std::string_view Text);
// NumericValue rounded to the nearest whole number and clamped to the range of the target.
long long WholeValue(std::string_view Text);

// Removes leading and trailing spaces.
std::string_view TrimSpaces(std::string_view Text);
// Removes trailing spaces only.
std::string_view TrimRight(std::string_view Text);
