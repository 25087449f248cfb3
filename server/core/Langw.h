#pragma once
// Placeholder interface until the language module lands.
#include <string>
#include <string_view>
extern int LangCount;
void LoadLanguages(const std::string& Path);
std::string GetLangText(int TextIndex, int LangIndex, std::string_view P1 = "", std::string_view P2 = "",
                        std::string_view P3 = "", std::string_view P4 = "");
std::string GetLanguageList(bool WithNames);
std::string GetLanguageName(int Index);
std::string GetLanguageSign(int Index);
int FindLanguage(std::string_view NameOrSign);
