#pragma once
// Placeholder interface until the mask helpers land.
#include <string>
#include <string_view>
#include <vector>
std::string ExpandMask(std::string_view Mask);
bool MatchMask(std::string_view Pattern, std::string_view Text);
std::string CloakHash(std::string_view Text);
std::string JoinTokens(const std::vector<std::string>& Params, int ParamCount, int FromIndex);
