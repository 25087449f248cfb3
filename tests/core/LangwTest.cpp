#include "server/core/Langw.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace
{

// A fresh directory per test, filled with the language files the test writes.
class LangwTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "langw-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        Dir = pattern + "/";
    }
    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(Dir, ec);
    }

    void WriteFile(const std::string& Name, std::string_view Bytes) const
    {
        std::ofstream file(Dir + Name, std::ios::binary);
        file.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
        ASSERT_TRUE(file.good());
    }

    void Load() const { LoadLanguages(Dir); }

    std::string Dir;
};

// Two languages as Deutsch/DE (first by file name) and English/EN.
constexpr std::string_view GermanFile =
    "languagename: Deutsch\r\nlanguagesign: DE\r\n1 Hallo %1\r\n3 Drei\r\n";
constexpr std::string_view EnglishFile = "languagename: English\r\nlanguagesign: EN\r\n1 Hello %1\r\n";

TEST_F(LangwTest, TextsOfTheFirstFile)
{
    WriteFile("a.lng", GermanFile);
    WriteFile("b.lng", EnglishFile);
    Load();
    ASSERT_EQ(LangCount, 2);
    EXPECT_EQ(GetLangText(1, 0, "Welt"), "Hallo Welt");
    EXPECT_EQ(GetLangText(2, 0), ""); // a missing number is the empty text
    EXPECT_EQ(GetLangText(3, 0), "Drei");
    EXPECT_EQ(GetLangText(1, 1, "World"), "Hello World");
    EXPECT_EQ(LangFile[0], Dir + "a.lng");
    EXPECT_EQ(LangFile[1], Dir + "b.lng");
}

TEST_F(LangwTest, NextLanguageStartsAfterTheHighestNumber)
{
    WriteFile("a.lng", GermanFile);
    WriteFile("b.lng", "languagename: Leer\r\nlanguagesign: XX\r\n"); // no text lines
    WriteFile("c.lng", EnglishFile);
    Load();
    ASSERT_EQ(LangCount, 3);
    EXPECT_EQ(LangBase[0], 0);
    EXPECT_EQ(LangBase[1], 3); // right after text 3 of the first language
    EXPECT_EQ(LangBase[2], 3); // a language without texts shares its start with the next one
    EXPECT_EQ(LangTexts[3], "Hello %1");
    // A number above a language's own highest reads on into the next language.
    EXPECT_EQ(GetLangText(4, 0, "x"), "Hello x");
}

struct PlaceholderCase {
    std::string_view Text, P1, P2, P3, P4, Expected;
};
constexpr PlaceholderCase PlaceholderCases[] = {
    {"a%1b", "", "", "", "", "ab"}, // an empty value makes the placeholder vanish
    {"%1%2%3%4", "w", "x", "y", "z", "wxyz"},
    {"%4 %3 %2 %1", "w", "x", "y", "z", "z y x w"},
    {"%1 and %1", "v", "", "", "", "v and v"},
    {"100%", "x", "", "", "", "100%"}, // a lone % at the end stays
    {"%5 %0 %a", "x", "", "", "", "%5 %0 %a"},
    {"%%", "x", "", "", "", "%%"},
    {"%%1", "x", "", "", "", "%x"},       // the first % is kept, the second starts %1
    {"[%1]", "a%1", "", "", "", "[a%1]"}, // an inserted value is not expanded again
    {"%1%2", "%2", "b", "", "", "%2b"},
    {"no placeholders", "x", "y", "", "", "no placeholders"},
};

TEST_F(LangwTest, PlaceholderTable)
{
    std::string file = "languagename: Test\r\nlanguagesign: T\r\n";
    int number = 0;
    for (const PlaceholderCase& c : PlaceholderCases)
        file += std::to_string(++number) + " " + std::string(c.Text) + "\r\n";
    WriteFile("t.lng", file);
    Load();
    number = 0;
    for (const PlaceholderCase& c : PlaceholderCases) {
        SCOPED_TRACE(std::string(c.Text));
        EXPECT_EQ(GetLangText(++number, 0, c.P1, c.P2, c.P3, c.P4), c.Expected);
    }
}

TEST_F(LangwTest, OutOfRangeIndexesGiveErrorTexts)
{
    WriteFile("a.lng", GermanFile);
    Load();
    EXPECT_EQ(GetLangText(1, -1), "Error: Unknowen LangwIndex");
    EXPECT_EQ(GetLangText(1, 21), "Error: Unknowen LangwIndex");
    EXPECT_EQ(GetLangText(0, 0), "Error: Unknowen TextIndex");
    EXPECT_EQ(GetLangText(-3, 0), "Error: Unknowen TextIndex");
    EXPECT_EQ(GetLangText(129, 0), ""); // the table always holds 129 texts
    EXPECT_EQ(GetLangText(130, 0), "Error: Unknowen TextIndex");
}

TEST_F(LangwTest, NoLanguageFiles)
{
    WriteFile("readme.txt", "1 not a language file\r\n");
    Load();
    EXPECT_EQ(LangCount, 0);
    EXPECT_EQ(GetLangText(1, 0), "");
    EXPECT_EQ(GetLangText(129, 0), "");
    EXPECT_EQ(GetLangText(130, 0), "Error: Unknowen TextIndex");
    EXPECT_EQ(FindLanguage("EN"), -1);
    EXPECT_EQ(GetLanguageList(true), "");
}

TEST_F(LangwTest, FindLanguageBySignOrName)
{
    WriteFile("a.lng", GermanFile);
    WriteFile("b.lng", EnglishFile);
    Load();
    struct {
        std::string_view NameOrSign;
        int Index;
    } const cases[] = {{"de", 0},      {"deutsch", 0}, {"DEUTSCH", 0}, {"En", 1},
                       {"english", 1}, {"fr", -1},     {"", -1},       {"deutsch ", -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.NameOrSign));
        EXPECT_EQ(FindLanguage(c.NameOrSign), c.Index);
    }
}

TEST_F(LangwTest, LanguageListsAndNames)
{
    WriteFile("a.lng", GermanFile);
    WriteFile("b.lng", EnglishFile);
    Load();
    EXPECT_EQ(GetLanguageList(true), "Deutsch (DE), English (EN)");
    EXPECT_EQ(GetLanguageList(false), "DE,EN");
    EXPECT_EQ(GetLanguageName(1), "English");
    EXPECT_EQ(GetLanguageSign(0), "DE");
    EXPECT_EQ(GetLanguageName(21), "");
    EXPECT_EQ(GetLanguageSign(-1), "");
}

TEST_F(LangwTest, TwentyFirstFileIsNotLoaded)
{
    for (int i = 0; i <= 20; ++i) {
        const std::string number = (i < 10 ? "0" : "") + std::to_string(i);
        WriteFile("L" + number + ".lng", "languagesign: S" + number + "\r\n1 Text " + number + "\r\n");
    }
    Load();
    EXPECT_EQ(LangCount, 20);
    EXPECT_EQ(FindLanguage("S19"), 19);
    EXPECT_EQ(FindLanguage("S20"), -1);
    EXPECT_EQ(GetLangText(1, 19), "Text 19");
}

TEST_F(LangwTest, FilesAreTakenInByteOrderOfTheirNames)
{
    WriteFile("b.lng", "languagesign: B\r\n");
    WriteFile("a.lng", "languagesign: A\r\n");
    WriteFile("Z.lng", "languagesign: Z\r\n"); // capitals sort before small letters
    WriteFile("C.LNG", "languagesign: C\r\n"); // copied from Windows with a capital extension
    WriteFile("a.lng.bak", "languagesign: X\r\n");
    std::filesystem::create_directory(Dir + "dir.lng");
    Load();
    EXPECT_EQ(GetLanguageList(false), "C,Z,A,B");
}

TEST_F(LangwTest, CrLfLoneCrAndLoneLfEachEndALine)
{
    WriteFile("a.lng", "languagename: Mixed\n1 one\r\n2 two\r3 three\n4 four\r\n\r\n5 five");
    Load();
    EXPECT_EQ(GetLanguageName(0), "Mixed");
    for (int i = 1; i <= 5; ++i) {
        const std::string text = GetLangText(i, 0);
        SCOPED_TRACE(text);
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
    }
    EXPECT_EQ(GetLangText(5, 0), "five"); // the last line needs no line end
}

struct LineCase {
    std::string_view Line;
    int Number; // the text number the line sets, 0 when it is no text line
    std::string_view Text;
};
constexpr LineCase LineCases[] = {
    {"7  two spaces kept ", 7, " two spaces kept "}, // everything after the first space, exactly
    {" 8 leading space", 0, ""},                     // begins with a space: never a text line
    {"9", 0, ""},                                    // no space at all
    {"0 zero", 0, ""},
    {"10000 too high", 0, ""},
    {"-1 negative", 0, ""},
    {"# 10 comment", 0, ""},
    {"11abc text", 11, "text"}, // the leading number of the first word counts
    {"11.6 rounded", 12, "rounded"},
    {"9999 highest", 9999, "highest"},
};

TEST_F(LangwTest, WhichLinesAreTextLines)
{
    for (const LineCase& c : LineCases) {
        SCOPED_TRACE(std::string(c.Line));
        WriteFile("a.lng", "languagesign: L\r\n" + std::string(c.Line) + "\r\n");
        Load();
        int filled = 0;
        for (const std::string& text : LangTexts)
            filled += text.empty() ? 0 : 1;
        EXPECT_EQ(filled, c.Number > 0 ? 1 : 0);
        if (c.Number > 0) {
            EXPECT_EQ(GetLangText(c.Number, 0), c.Text);
        }
    }
}

TEST_F(LangwTest, KeywordsInAnyCaseAndLaterNumberWins)
{
    WriteFile("a.lng", "LanguageName: Deutsch\r\nLANGUAGESIGN: DE\r\nlanguagename:NoSpace\r\n"
                       "x languagesign: XX\r\n1 first\r\n1 second\r\n");
    Load();
    EXPECT_EQ(GetLanguageName(0), "Deutsch");
    EXPECT_EQ(GetLanguageSign(0), "DE");
    EXPECT_EQ(GetLangText(1, 0), "second");
}

TEST_F(LangwTest, ReloadReplacesTheLoadedLanguages)
{
    WriteFile("a.lng", GermanFile);
    WriteFile("b.lng", EnglishFile);
    Load();
    std::filesystem::remove(Dir + "a.lng");
    Load();
    EXPECT_EQ(LangCount, 1);
    EXPECT_EQ(GetLanguageList(false), "EN");
    EXPECT_EQ(GetLangText(3, 0), ""); // the old language's texts are gone
    EXPECT_EQ(FindLanguage("de"), -1);
}

} // namespace
