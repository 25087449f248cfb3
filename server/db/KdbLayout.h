#pragma once
// The byte layout of the record database file, shared by KvDataBase and the offline checker so that
// both read the same bytes the same way. Files written by one version must open in every later one:
// nothing here may change.
//
// Every position is 1-based (position p is byte offset p - 1), as stored in the file. Every field is
// text: numbers are decimal, left-aligned and space-padded, so there is no binary byte order to get
// wrong; records are still built and taken apart field by field through the helpers below.

#include <cstdint>
#include <string>
#include <string_view>

#include "common/Clock.h"

namespace Kdb
{

constexpr std::int32_t FieldSize = 32;
constexpr std::int32_t LineSize = 2 * FieldSize; // header field, value field
constexpr std::int32_t LinesPerBlock = 64;       // line 0 is the block header
constexpr std::int32_t BlockSize = LineSize * LinesPerBlock;
constexpr std::int32_t SlotCount = 320;
constexpr std::int32_t GlobalAreaSize = SlotCount * FieldSize;
constexpr std::int32_t FirstBlock = GlobalAreaSize + 1;
constexpr std::int32_t UserIndexStart = FirstBlock;
constexpr std::int32_t ChanIndexStart = FirstBlock + BlockSize;
// The file grows by writing one byte this far past the block being claimed, so growth is rare.
constexpr std::int32_t GrowthStep = 65535;
constexpr std::int32_t NewFileLength = ChanIndexStart + GrowthStep;

static_assert(LineSize == 64 && BlockSize == 4096);
static_assert(GlobalAreaSize == 10240 && FirstBlock == 10241 && ChanIndexStart == 14337);
static_assert(NewFileLength == 79872);
// A grown file always ends on a block boundary.
static_assert((NewFileLength - GlobalAreaSize) % BlockSize == 0);

constexpr std::string_view UserIndexTitle = "Index (Users)";
constexpr std::string_view ChanIndexTitle = "Index (Channels)";
constexpr std::string_view DataTitle = "Data";

// A line or block is in use when its first byte is above a space; spaces, NULs and control bytes
// all mean free.
inline bool IsInUse(char FirstByte)
{
    return static_cast<unsigned char>(FirstByte) >= 33;
}

// The leading decimal number of a field: blanks skipped, reading stops at the first non-digit, a
// field that does not start with a digit ("# date", "[temp]", NULs, all blanks) reads as 0. Numbers
// too large for a position read as the largest one, which is never a valid line.
std::int32_t FieldNumber(std::string_view Field);

// Text cut to Width bytes and padded with spaces to exactly Width bytes.
std::string PadField(std::string_view Text, std::int32_t Width = FieldSize);
std::string DecimalText(std::int64_t Number);
std::string_view TrimTrailingSpaces(std::string_view Text);

// Puts Text, cut and space-padded to Width, into Record at the 0-based Offset.
void PutField(std::string& Record, std::int32_t Offset, std::string_view Text,
              std::int32_t Width = FieldSize);
// Width bytes of Record from the 0-based Offset (fewer when the record is shorter).
std::string_view GetField(std::string_view Record, std::int32_t Offset, std::int32_t Width = FieldSize);

// Start of the block that holds Pos; Pos must lie in the block area.
std::int32_t BlockStart(std::int32_t Pos);
// True when Pos is the first byte of a usable line (lines 1 to 63 of some block).
bool IsLinePosition(std::int32_t Pos);
bool IsBlockPosition(std::int32_t Pos);

// "YYYY-MM-DD HH:MM:SS" in local time: the form every date in the file takes, and what block stamps
// carry after "# ".
std::string DateTimeText(Date When);

} // namespace Kdb
