// Placeholder until the language module lands.
#include "server/core/Langw.h"
int LangCount = 0;
void LoadLanguages(const std::string&) {}
std::string GetLangText(int TextIndex, int, std::string_view P1, std::string_view, std::string_view, std::string_view)
{
    return "text" + std::to_string(TextIndex) + std::string(P1);
}
std::string GetLanguageList(bool) { return ""; }
std::string GetLanguageName(int) { return ""; }
std::string GetLanguageSign(int) { return ""; }
int FindLanguage(std::string_view) { return -1; }
