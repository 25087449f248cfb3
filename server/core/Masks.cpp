#include "server/core/Masks.h"

#include "common/Text.h"

#include <cstdint>

std::string ExpandMask(std::string_view Mask)
{
    // Positions counted from 1; npos + 1 wraps to 0, meaning absent.
    const std::size_t at = Mask.find('@') + 1;
    const std::size_t bang = Mask.find('!') + 1;
    const std::string mask(Mask);
    if (at == 0 && bang == 0) return mask + "!*@*";
    if (at == 0) {
        if (Mask == "!") return "*!*@*";
        if (bang == Mask.size()) return mask + "*@*";
        if (bang == 1) return "*" + mask + "@*";
        return mask + "@*";
    }
    if (at == Mask.size()) {
        if (bang == 1) return "*" + mask + "*";
        if (bang > 0) return mask + "*";
        return "*!" + mask + "*";
    }
    if (at == 1) return "*!*" + mask;
    if (bang == 1) return "*" + mask;
    if (bang > 0) return mask;
    return "*!" + mask;
}

// The pieces between the stars are looked for in order, each at or after the start of the one
// before. Masks have always matched this way, and users' ban lists rely on it: the first piece is not
// tied to the start of the text unless there is no star at all (so "bob!*@*" also bans "jimbob"),
// pieces may overlap, and only the first place where the last piece occurs is tried against the end.
// A "**" followed by more text never matches, because an empty piece inside moves past the end.
bool MatchMask(std::string_view Pattern, std::string_view Text)
{
    const bool hasStar = Pattern.find('*') != std::string_view::npos;
    std::size_t position = 0; // where the latest piece starts, counted from 1
    std::string_view piece;
    std::size_t pieceStart = 0;
    for (bool first = true;; first = false) {
        const std::size_t star = Pattern.find('*', pieceStart);
        piece = Pattern.substr(pieceStart,
                               star == std::string_view::npos ? std::string_view::npos : star - pieceStart);
        if (piece.empty()) {
            position = first ? 1 : Text.size() + 1;
        } else {
            const std::size_t found = FindNoCase(Text, piece, position);
            if (found == std::string_view::npos) return false;
            position = found + 1;
        }
        if (star == std::string_view::npos) break;
        pieceStart = star + 1;
    }
    if (position + piece.size() != Text.size() + 1) return false;
    return hasStar || position == 1;
}

std::string CloakHash(std::string_view Text)
{
    // Weights 1, 256, 65536 repeat every three bytes, so the sum stays small and the hex text short.
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < Text.size(); ++i)
        sum += static_cast<std::uint64_t>(static_cast<unsigned char>(Text[i])) << (8 * (i % 3));
    constexpr char digits[] = "0123456789ABCDEF";
    std::string hex;
    do {
        hex.insert(hex.begin(), digits[sum % 16]);
        sum /= 16;
    } while (sum != 0);
    return hex;
}

std::string JoinTokens(std::span<const std::string> Params, int ParamCount, int k)
{
    constexpr int lastIndex = 127;
    int last = ParamCount < lastIndex ? ParamCount : lastIndex;
    if (last >= static_cast<int>(Params.size())) last = static_cast<int>(Params.size()) - 1;
    std::string text;
    for (int i = k < 0 ? 0 : k; i <= last; ++i) {
        if (!text.empty()) text += ' ';
        text += Params[static_cast<std::size_t>(i)];
    }
    return text;
}

std::string CleanText(std::string_view Text, unsigned char LastCode, char Replacement)
{
    // Codes 1 to 3 stay: they carry client-to-client requests, bold and colour.
    std::string text(Text);
    for (char& c : text) {
        const unsigned char code = static_cast<unsigned char>(c);
        if (code >= 4 && code <= LastCode) c = Replacement;
    }
    return text;
}
