#include "common/Text.h"

#include <array>
#include <cmath>
#include <limits>

namespace
{

constexpr std::array<unsigned char, 256> MakeLowerTable()
{
    std::array<unsigned char, 256> table{};
    for (int i = 0; i < 256; ++i)
        table[i] = static_cast<unsigned char>(i);
    for (int i = 'A'; i <= 'Z'; ++i)
        table[i] = static_cast<unsigned char>(i + 32);
    // Latin-1 capitals À..Þ, except the multiplication sign.
    for (int i = 0xC0; i <= 0xDE; ++i)
        if (i != 0xD7) table[i] = static_cast<unsigned char>(i + 32);
    table[0x8A] = 0x9A; // Š š
    table[0x8C] = 0x9C; // Œ œ
    table[0x8E] = 0x9E; // Ž ž
    table[0x9F] = 0xFF; // Ÿ ÿ
    return table;
}

constexpr std::array<unsigned char, 256> LowerTable = MakeLowerTable();

} // namespace

unsigned char LowerByte(unsigned char c)
{
    return LowerTable[c];
}

std::string LowerCase(std::string_view Text)
{
    std::string result(Text);
    for (char& c : result)
        c = static_cast<char>(LowerTable[static_cast<unsigned char>(c)]);
    return result;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerTable[static_cast<unsigned char>(a[i])] != LowerTable[static_cast<unsigned char>(b[i])])
            return false;
    return true;
}

std::size_t FindNoCase(std::string_view Text, std::string_view What, std::size_t From)
{
    if (What.empty()) return From <= Text.size() ? From : std::string_view::npos;
    if (What.size() > Text.size()) return std::string_view::npos;
    for (std::size_t i = From; i + What.size() <= Text.size(); ++i)
        if (EqualsNoCase(Text.substr(i, What.size()), What)) return i;
    return std::string_view::npos;
}

double NumericValue(std::string_view Text)
{
    std::size_t i = 0;
    while (i < Text.size() && (Text[i] == ' ' || Text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < Text.size() && (Text[i] == '-' || Text[i] == '+')) negative = Text[i++] == '-';
    double value = 0;
    bool any = false;
    while (i < Text.size() && Text[i] >= '0' && Text[i] <= '9') {
        value = value * 10 + (Text[i++] - '0');
        any = true;
    }
    if (i < Text.size() && Text[i] == '.') {
        ++i;
        double scale = 0.1;
        while (i < Text.size() && Text[i] >= '0' && Text[i] <= '9') {
            value += (Text[i++] - '0') * scale;
            scale /= 10;
            any = true;
        }
    }
    if (!any) return 0;
    return negative ? -value : value;
}

long long WholeValue(std::string_view Text)
{
    const double value = std::nearbyint(NumericValue(Text));
    constexpr double limit = 9.0e18;
    if (value > limit) return static_cast<long long>(limit);
    if (value < -limit) return static_cast<long long>(-limit);
    return static_cast<long long>(value);
}

std::string_view TrimSpaces(std::string_view Text)
{
    while (!Text.empty() && Text.front() == ' ')
        Text.remove_prefix(1);
    while (!Text.empty() && Text.back() == ' ')
        Text.remove_suffix(1);
    return Text;
}

std::string_view TrimRight(std::string_view Text)
{
    while (!Text.empty() && Text.back() == ' ')
        Text.remove_suffix(1);
    return Text;
}
