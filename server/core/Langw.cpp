#include "server/core/Langw.h"

#include "common/Text.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace
{

// Room for text numbers 1 to 129 of language 0 even when no file is loaded, so that a server
// without language files answers with empty texts instead of error texts.
constexpr std::size_t InitialTextCount = 129;
constexpr int HighestTextNumber = 9999;

constexpr std::string_view NameKeyword = "languagename: ";
constexpr std::string_view SignKeyword = "languagesign: ";

// The file names of the directory ending in ".lng", in byte order. A file copied from Windows may
// carry an upper-case extension, which the Windows listing matched too.
std::vector<std::string> ListLanguageFiles(const std::string& Path)
{
    std::vector<std::string> names;
    std::error_code ec;
    std::filesystem::directory_iterator dir(Path.empty() ? std::string(".") : Path, ec);
    if (ec) return names;
    for (const std::filesystem::directory_entry& entry : dir) {
        std::error_code typeError;
        if (!entry.is_regular_file(typeError)) continue;
        std::string name = entry.path().filename().string();
        if (name.size() < 4 || !EqualsNoCase(std::string_view(name).substr(name.size() - 4), ".lng"))
            continue;
        names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end()); // char_traits compare bytes unsigned: a stable byte order
    return names;
}

bool ReadWholeFile(const std::string& FileName, std::string& Content)
{
    std::ifstream file(FileName, std::ios::binary);
    if (!file) return false;
    Content.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

// Calls LineHandler for every line of Content. Translators save the files with CR LF; a file
// edited on Linux has bare LFs, and a lone CR ended a line from the start, so all three end one.
template <class F> void ForEachLine(std::string_view Content, F&& LineHandler)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i < Content.size(); ++i) {
        const char c = Content[i];
        if (c != '\r' && c != '\n') continue;
        LineHandler(Content.substr(start, i - start));
        if (c == '\r' && i + 1 < Content.size() && Content[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < Content.size()) LineHandler(Content.substr(start));
}

bool StartsWithKeyword(std::string_view Line, std::string_view Keyword)
{
    return Line.size() >= Keyword.size() && EqualsNoCase(Line.substr(0, Keyword.size()), Keyword);
}

struct LoadedTables {
    std::array<std::string, MaxLanguages + 1> Files;
    std::array<std::string, MaxLanguages + 1> Names;
    std::array<std::string, MaxLanguages + 1> Signs;
    std::array<int, MaxLanguages + 1> Bases{};
    std::vector<std::string> Texts;
};

// Reads one language file into the tables; Base is where the next language will start.
void LoadLanguageFile(const std::string& FileName, int Index, int& Base, LoadedTables& Tables)
{
    Tables.Bases[Index] = Base;
    std::string content;
    if (!ReadWholeFile(FileName, content)) return; // an unreadable file is a language without texts
    ForEachLine(content, [&](std::string_view line) {
        if (StartsWithKeyword(line, NameKeyword)) {
            Tables.Names[Index] = std::string(line.substr(NameKeyword.size()));
            return;
        }
        if (StartsWithKeyword(line, SignKeyword)) {
            Tables.Signs[Index] = std::string(line.substr(SignKeyword.size()));
            return;
        }
        // A text line is a number up to the first space; comments and blank lines have none.
        const std::size_t space = line.find(' ');
        if (space == std::string_view::npos) return;
        const double number = NumericValue(line.substr(0, space + 1));
        if (number < 1 || number > HighestTextNumber) return;
        const int textNumber = static_cast<int>(std::nearbyint(number));
        const std::size_t position = static_cast<std::size_t>(Tables.Bases[Index] + textNumber - 1);
        if (position >= Tables.Texts.size()) Tables.Texts.resize(position + 1);
        Tables.Texts[position] = std::string(line.substr(space + 1));
        Base = std::max(Base, Tables.Bases[Index] + textNumber);
    });
}

} // namespace

int LangCount = 0;
std::array<std::string, MaxLanguages + 1> LangFile;
std::array<std::string, MaxLanguages + 1> LangName;
std::array<std::string, MaxLanguages + 1> LangSign;
std::array<int, MaxLanguages + 1> LangBase{};
std::vector<std::string> LangTexts(InitialTextCount);

void LoadLanguages(const std::string& Path)
{
    // Built aside and swapped in at the end, so a reload replaces the tables in one step. Entries
    // of languages that are no longer loaded keep their old values.
    LoadedTables tables{LangFile, LangName, LangSign, LangBase, std::vector<std::string>(InitialTextCount)};
    std::vector<std::string> files = ListLanguageFiles(Path);
    if (files.size() > static_cast<std::size_t>(MaxLanguages)) files.resize(MaxLanguages);

    int base = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        tables.Files[i] = Path + files[i];
        LoadLanguageFile(tables.Files[i], static_cast<int>(i), base, tables);
    }

    LangCount = static_cast<int>(files.size());
    LangFile = std::move(tables.Files);
    LangName = std::move(tables.Names);
    LangSign = std::move(tables.Signs);
    LangBase = tables.Bases;
    LangTexts = std::move(tables.Texts);
}

std::string GetLangText(int TextIndex, int LangIndex, std::string_view P1, std::string_view P2,
                        std::string_view P3, std::string_view P4)
{
    if (LangIndex < 0 || LangIndex > MaxLanguages) return "Error: Unknowen LangwIndex";
    // A number above the language's own highest one is not refused: it reads into the next language.
    const long long position = static_cast<long long>(LangBase[LangIndex]) + TextIndex - 1;
    if (TextIndex < 1 || position >= static_cast<long long>(LangTexts.size()))
        return "Error: Unknowen TextIndex";
    const std::string& text = LangTexts[static_cast<std::size_t>(position)];

    // One pass from left to right, so an inserted value is never searched for placeholders again.
    const std::array<std::string_view, 4> values{P1, P2, P3, P4};
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '4') {
            result += values[static_cast<std::size_t>(text[i + 1] - '1')];
            ++i;
        } else {
            result += text[i];
        }
    }
    return result;
}

std::string GetLanguageList(bool WithNames)
{
    std::string list;
    for (int i = 0; i < LangCount; ++i) {
        if (i > 0) list += WithNames ? ", " : ",";
        if (WithNames)
            list += LangName[i] + " (" + LangSign[i] + ")";
        else
            list += LangSign[i];
    }
    return list;
}

std::string GetLanguageName(int Index)
{
    if (Index < 0 || Index > MaxLanguages) return "";
    return LangName[Index];
}

std::string GetLanguageSign(int Index)
{
    if (Index < 0 || Index > MaxLanguages) return "";
    return LangSign[Index];
}

int FindLanguage(std::string_view NameOrSign)
{
    for (int i = 0; i < LangCount; ++i)
        if (EqualsNoCase(LangName[i], NameOrSign) || EqualsNoCase(LangSign[i], NameOrSign)) return i;
    return -1;
}
