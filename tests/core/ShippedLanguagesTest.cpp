// The language files that ship with the server: every text the server sends must exist in every
// language, with the placeholders the server fills in.

#include "server/core/Langw.h"
#include "server/core/TextIds.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <string_view>

namespace
{

const std::string& RawText(int TextIndex, int LangIndex)
{
    return LangTexts.at(static_cast<std::size_t>(LangBase[LangIndex] + TextIndex - 1));
}

std::set<char> Placeholders(std::string_view Text)
{
    std::set<char> found;
    for (std::size_t i = 0; i + 1 < Text.size(); ++i)
        if (Text[i] == '%' && Text[i + 1] >= '1' && Text[i + 1] <= '4') found.insert(Text[++i]);
    return found;
}

struct LayoutElement {
    std::string Kind; // the type letter, with "r" before it when read-only
    std::string Label;
};

// The settings page as the console reads it: elements "kind:key:label" separated by "\".
std::map<std::string, LayoutElement> ParseLayout(std::string_view Layout)
{
    std::map<std::string, LayoutElement> elements;
    std::size_t start = 0;
    while (start <= Layout.size()) {
        std::size_t end = Layout.find('\\', start);
        if (end == std::string_view::npos) end = Layout.size();
        const std::string_view element = Layout.substr(start, end - start);
        const std::size_t first = element.find(':');
        const std::size_t second = element.find(':', first + 1);
        EXPECT_NE(second, std::string_view::npos) << element;
        if (second == std::string_view::npos) break;
        EXPECT_EQ(element.find(':', second + 1), std::string_view::npos) << "colon in label: " << element;
        const std::string key(element.substr(first + 1, second - first - 1));
        EXPECT_EQ(elements.count(key), 0u) << "key twice: " << key;
        elements[key] = {std::string(element.substr(0, first)), std::string(element.substr(second + 1))};
        start = end + 1;
    }
    return elements;
}

// Every key OperServ can read ("values get") and how the console shows it.
const std::map<std::string, std::string> SettingKinds = {
    {"port", "i"},         {"name", "s"},         {"version", "s"},       {"pass", "s"},
    {"netname", "s"},      {"chanclose", "b"},    {"clientversion", "b"}, {"connectcount", "i"},
    {"maxusercount", "i"}, {"maxuserdate", "rs"}, {"deflang", "s"},       {"logging", "i"},
    {"pinginterval", "i"}, {"smtpserver", "s"},   {"email", "s"},         {"floodkill", "i"},
    {"clones", "i"},       {"statcount", "i"},    {"evdaystat", "b"},     {"awaymode", "b"},
    {"instdate", "rs"},    {"startdate", "rs"},   {"usercount", "ri"},    {"chancount", "ri"},
};

TEST(ShippedLanguages, TextNumbersAreTheOnesInUse)
{
    int previous = 0;
    for (int id : AllTextIds) {
        EXPECT_GT(id, previous); // ascending, so no number is named twice
        EXPECT_LE(id, 127);
        previous = id;
    }
}

TEST(ShippedLanguages, EnglishFirstThenGerman)
{
    LoadLanguages(KORV_DATA_DIR "/");
    ASSERT_EQ(LangCount, 2);
    EXPECT_EQ(GetLanguageList(true), "English (EN), Deutsch (DE)");
    EXPECT_EQ(FindLanguage("en"), 0);
    EXPECT_EQ(FindLanguage("deutsch"), 1);
}

TEST(ShippedLanguages, EveryTextExistsWithTheSamePlaceholders)
{
    LoadLanguages(KORV_DATA_DIR "/");
    ASSERT_EQ(LangCount, 2);
    for (int id : AllTextIds) {
        SCOPED_TRACE("text " + std::to_string(id));
        const std::string& english = RawText(id, 0);
        const std::string& german = RawText(id, 1);
        for (const std::string& text : {english, german}) {
            EXPECT_FALSE(text.empty());
            EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
        }
        EXPECT_EQ(Placeholders(german), Placeholders(english)) << german;
    }
}

TEST(ShippedLanguages, GuestNickHasTheNumberPlaceholder)
{
    LoadLanguages(KORV_DATA_DIR "/");
    for (int lang = 0; lang < LangCount; ++lang) {
        EXPECT_NE(RawText(TextGuestNick, lang).find("%1"), std::string::npos) << GetLanguageName(lang);
        EXPECT_EQ(RawText(TextGuestNick, lang).find(' '), std::string::npos) << GetLanguageName(lang);
    }
}

TEST(ShippedLanguages, GermanIsWindows1252)
{
    LoadLanguages(KORV_DATA_DIR "/");
    ASSERT_EQ(FindLanguage("DE"), 1);
    std::string all;
    for (int id : AllTextIds)
        all += RawText(id, 1);
    EXPECT_NE(all.find('\xFC'), std::string::npos); // ü as one byte
    EXPECT_EQ(all.find('\xC3'), std::string::npos); // the lead byte of UTF-8 umlauts
}

TEST(ShippedLanguages, SettingsLayoutListsEveryKey)
{
    LoadLanguages(KORV_DATA_DIR "/");
    for (int lang = 0; lang < LangCount; ++lang) {
        SCOPED_TRACE(GetLanguageName(lang));
        const std::map<std::string, LayoutElement> layout = ParseLayout(RawText(TextValueLayout, lang));
        EXPECT_EQ(layout.size(), SettingKinds.size());
        for (const auto& [key, kind] : SettingKinds) {
            SCOPED_TRACE(key);
            const auto element = layout.find(key);
            ASSERT_NE(element, layout.end());
            EXPECT_EQ(element->second.Kind, kind);
            EXPECT_FALSE(element->second.Label.empty());
        }
    }
}

// The protocol tests' small language file carries every text too.
TEST(ShippedLanguages, FixtureLanguageHasEveryText)
{
    LoadLanguages(KORV_FIXTURES_DIR "/");
    ASSERT_EQ(LangCount, 1);
    for (int id : AllTextIds)
        EXPECT_FALSE(RawText(id, 0).empty()) << "text " << id;
}

} // namespace
