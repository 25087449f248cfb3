#include "server/db/KdbLayout.h"

#include <ctime>
#include <limits>

namespace Kdb
{

std::int32_t FieldNumber(std::string_view Field)
{
    std::size_t i = 0;
    while (i < Field.size() && (Field[i] == ' ' || Field[i] == '\t'))
        ++i;
    std::int64_t value = 0;
    constexpr std::int64_t largest = std::numeric_limits<std::int32_t>::max();
    for (; i < Field.size() && Field[i] >= '0' && Field[i] <= '9'; ++i) {
        value = value * 10 + (Field[i] - '0');
        if (value > largest) return static_cast<std::int32_t>(largest);
    }
    return static_cast<std::int32_t>(value);
}

std::string PadField(std::string_view Text, std::int32_t Width)
{
    std::string field(Text.substr(0, static_cast<std::size_t>(Width)));
    field.resize(static_cast<std::size_t>(Width), ' ');
    return field;
}

std::string DecimalText(std::int64_t Number)
{
    return std::to_string(Number);
}

std::string_view TrimTrailingSpaces(std::string_view Text)
{
    while (!Text.empty() && Text.back() == ' ')
        Text.remove_suffix(1);
    return Text;
}

void PutField(std::string& Record, std::int32_t Offset, std::string_view Text, std::int32_t Width)
{
    Record.replace(static_cast<std::size_t>(Offset), static_cast<std::size_t>(Width), PadField(Text, Width));
}

std::string_view GetField(std::string_view Record, std::int32_t Offset, std::int32_t Width)
{
    if (Offset < 0 || static_cast<std::size_t>(Offset) >= Record.size()) return {};
    return Record.substr(static_cast<std::size_t>(Offset), static_cast<std::size_t>(Width));
}

std::int32_t BlockStart(std::int32_t Pos)
{
    return FirstBlock + (Pos - FirstBlock) / BlockSize * BlockSize;
}

bool IsBlockPosition(std::int32_t Pos)
{
    return Pos >= FirstBlock && (Pos - FirstBlock) % BlockSize == 0;
}

bool IsLinePosition(std::int32_t Pos)
{
    if (Pos < FirstBlock || (Pos - FirstBlock) % LineSize != 0) return false;
    // The last byte of the line must still be a representable position.
    if (Pos > std::numeric_limits<std::int32_t>::max() - (LineSize - 1)) return false;
    return (Pos - FirstBlock) / LineSize % LinesPerBlock != 0;
}

std::string DateTimeText(Date When)
{
    const time_t seconds = static_cast<time_t>(When);
    tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(text, length);
}

} // namespace Kdb
