#include "server/core/Masks.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <string_view>
#include <vector>

struct ExpandCase {
    std::string_view Mask, Expanded;
};
constexpr ExpandCase ExpandCases[] = {
    {"", "!*@*"},
    {"bob", "bob!*@*"},
    {"!", "*!*@*"},
    {"bob!", "bob!*@*"},
    {"!user", "*!user@*"},
    {"bob!user", "bob!user@*"},
    {"@", "*!@*"},
    {"!user@", "*!user@*"},
    {"bob!user@", "bob!user@*"},
    {"user@", "*!user@*"},
    {"@host", "*!*@host"},
    {"@host!x", "*!*@host!x"}, // "@" first wins over a later "!"
    {"!user@host", "*!user@host"},
    {"bob!user@host", "bob!user@host"},
    {"user@host", "*!user@host"},
};
TEST(ExpandMask, Table)
{
    for (const ExpandCase& c : ExpandCases) {
        SCOPED_TRACE(std::string(c.Mask));
        EXPECT_EQ(ExpandMask(c.Mask), c.Expanded);
    }
}

struct MaskCase {
    std::string_view Mask, Text;
    bool Matches;
};
constexpr MaskCase MaskCases[] = {
    {"*!*@host", "nick!user@HOST", true},
    {"Bob!*@*", "bOB!ann@host.example", true}, // case never matters
    {"\xC4*", "\xE4x", true},                  // Windows-1252 letters too
    {"!*@*", "Ann!ann@host.example", true},    // WHO without a mask lists everyone
    {"*!*@*.example", "Ann!ann@host.example", true},
    {"*!*@*.example", "Ann!ann@example", false}, // "*." needs the dot
    {"*@host", "a@host.x", false},               // the last piece ends the text
    {"ab", "ab", true},
    {"ab", "xab", false}, // without a star the pattern is the whole text
    {"ab", "abab", false},
    {"", "", true},
    {"", "x", false},
    {"*", "", true},
    {"*", "anything", true},
    {"bob!*@*", "jimbob!u@h", true}, // the first piece is not tied to the start
    {"a*", "xay", true},
    {"a**b", "ab", false}, // "**" inside never matches
    {"a**b", "axxb", false},
    {"**b", "b", false},
    {"a**", "abc", true},     // at the end it does no harm
    {"ab*b", "ab", true},     // pieces may overlap
    {"*!*b", "x!bab", false}, // only the first "b" after "!" is tried against the end
    {"*!*b", "x!ab", true},
};
TEST(MatchMask, Table)
{
    for (const MaskCase& c : MaskCases) {
        SCOPED_TRACE(std::string(c.Mask) + " vs " + std::string(c.Text));
        EXPECT_EQ(MatchMask(c.Mask, c.Text), c.Matches);
    }
}

struct HashCase {
    std::string_view Text, Hash;
};
constexpr HashCase HashCases[] = {
    {"abc", "636261"},  // 97 + 98 * 256 + 99 * 65536
    {"192", "323931"},  // the first label of 192.168.1.10
    {"abcd", "6362C5"}, // the weights start again with the fourth byte; upper-case digits
    {"a", "61"},
    {"", "0"},
    {"\xFF\xFF\xFF\xFF\xFF\xFF", "1FFFFFE"}, // bytes above 127 count as 128 to 255
};
TEST(CloakHash, Table)
{
    for (const HashCase& c : HashCases) {
        SCOPED_TRACE(std::string(c.Text));
        EXPECT_EQ(CloakHash(c.Text), c.Hash);
    }
}

struct JoinCase {
    std::vector<std::string> Tokens;
    int ParamCount, k;
    std::string Joined;
};
TEST(JoinTokens, Table)
{
    const JoinCase cases[] = {
        {{"PRIVMSG", "a", "b", "c"}, 3, 1, "a b c"},
        {{"PRIVMSG", "a", "b", "c"}, 3, 2, "b c"},
        {{"PRIVMSG", "a", "b", "c"}, 2, 1, "a b"},      // tokens after ParamCount are not read
        {{"AWAY", "", "", "x", "", "y"}, 5, 1, "x  y"}, // leading empty tokens vanish, inner ones stay
        {{"AWAY", "x", ""}, 2, 1, "x "},
        {{"AWAY"}, 0, 1, ""},
    };
    for (const JoinCase& c : cases) {
        SCOPED_TRACE("from " + std::to_string(c.k) + ": " + c.Joined);
        std::array<std::string, 128> params;
        for (std::size_t i = 0; i < c.Tokens.size(); ++i)
            params[i] = c.Tokens[i];
        EXPECT_EQ(JoinTokens(params, c.ParamCount, c.k), c.Joined);
    }
}

TEST(JoinTokens, ReadsNoFurtherThanIndex127)
{
    std::vector<std::string> params(200, "t");
    params[127] = "last";
    EXPECT_EQ(JoinTokens(params, 199, 126), "t last");
}

struct CleanCase {
    std::string_view Text;
    unsigned char LastCode;
    char Replacement;
    std::string_view Cleaned;
};
constexpr CleanCase CleanCases[] = {
    {"a\tb", 31, ' ', "a b"},
    {"\x01\x02\x03", 31, ' ', "\x01\x02\x03"}, // client requests, bold and colour survive
    {"\x04x\x1fy", 31, ' ', " x y"},
    {"two words", 31, ' ', "two words"},
    {"two words", 32, '_', "two_words"}, // a setting stays one word
    {"\x04x\x1fy", 32, '_', "_x_y"},
    {"\x7f\xa0!", 32, '_', "\x7f\xa0!"},
};
TEST(CleanText, Table)
{
    for (const CleanCase& c : CleanCases) {
        SCOPED_TRACE(std::string(c.Text));
        EXPECT_EQ(CleanText(c.Text, c.LastCode, c.Replacement), c.Cleaned);
    }
}
