#pragma once
// The language texts: every text the server shows to a user is looked up here by number, in the
// user's language, with the placeholders %1 to %4 filled in. All "*.lng" files of the program
// directory are loaded into one table, language after language.

#include <array>
#include <string>
#include <string_view>
#include <vector>

// Up to 20 languages are loaded; the tables have one spare entry, so that any index from 0 to 20
// may be asked for without a range error.
constexpr int MaxLanguages = 20;

extern int LangCount;
extern std::array<std::string, MaxLanguages + 1> LangFile;
extern std::array<std::string, MaxLanguages + 1> LangName;
extern std::array<std::string, MaxLanguages + 1> LangSign;
// Position in LangTexts of text 1 of each language.
extern std::array<int, MaxLanguages + 1> LangBase;
// The texts of all languages: text n of language i is LangTexts[LangBase[i] + n - 1].
extern std::vector<std::string> LangTexts;

// Loads every "*.lng" file of the directory Path (which ends with "/"), by file name in byte
// order, at most 20. Language 0, the first file, is the fallback language.
void LoadLanguages(const std::string& Path);
// Text TextIndex of language LangIndex with "%1" to "%4" replaced by P1 to P4.
std::string GetLangText(int TextIndex, int LangIndex, std::string_view P1 = "", std::string_view P2 = "",
                        std::string_view P3 = "", std::string_view P4 = "");
// With names: "Deutsch (DE), English (EN)"; without: "DE,EN".
std::string GetLanguageList(bool WithNames);
std::string GetLanguageName(int Index);
std::string GetLanguageSign(int Index);
// The lowest loaded language whose name or sign equals NameOrSign in any letter case; -1 if none.
int FindLanguage(std::string_view NameOrSign);
