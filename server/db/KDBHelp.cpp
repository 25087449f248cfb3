#include "server/db/KDBHelp.h"

#include <unordered_set>
#include <vector>

#include "server/db/KdbLayout.h"
#include "server/db/KvDataBase.h"

namespace
{

// The lines of the chain in order. A damaged chain that loops is cut at the first line met twice,
// so a helper never runs forever over a bad file.
std::vector<std::int32_t> ChainLines(KvDataBase& DB, std::int32_t FirstLine)
{
    std::vector<std::int32_t> lines;
    std::unordered_set<std::int32_t> seen;
    for (std::int32_t line = FirstLine; line >= 2; line = DB.GetNextItem(line)) {
        if (!seen.insert(line).second) break;
        lines.push_back(line);
    }
    return lines;
}

// Value first, header last: while its header still holds something the line counts as in use, so
// a crash between the two writes never leaves a free line with a stale value that a later chain
// extension would pick up as its own.
bool FreeLine(KvDataBase& DB, std::int32_t Line)
{
    return DB.WriteValueByID(Line, "") && DB.WriteHeaderByID(Line, "");
}

} // namespace

void FreeChain(KvDataBase& DB, std::int32_t FirstLine)
{
    const std::vector<std::int32_t> lines = ChainLines(DB, FirstLine);
    if (lines.empty()) return;
    // Cutting the first line loose first keeps whatever still points to it pointing to a line in
    // use while the rest is freed.
    if (lines.size() > 1 && !DB.WriteHeaderByID(lines.front(), "1")) return;
    for (std::size_t i = 1; i < lines.size(); ++i)
        if (!FreeLine(DB, lines[i])) return;
    FreeLine(DB, lines.front());
}

void TruncateChain(KvDataBase& DB, std::int32_t FirstLine)
{
    const std::vector<std::int32_t> lines = ChainLines(DB, FirstLine);
    if (lines.size() < 2) return;
    // The cut comes before any line is freed: the freed lines are then unreachable from the start.
    if (!DB.WriteHeaderByID(lines.front(), "1") || !DB.WriteValueByID(lines.front(), "")) return;
    for (std::size_t i = 1; i < lines.size(); ++i)
        if (!FreeLine(DB, lines[i])) return;
}

std::int32_t NewSubChain(KvDataBase& DB, std::int32_t Index, std::int16_t ValIndex)
{
    // The placeholder makes sure the value's own line exists, so the free line asked for next
    // cannot turn out to be the line the value is about to need.
    if (DB.WriteValue(Index, ValIndex, "[temp]") != 0) return 0;
    const std::int32_t line = DB.GetNextFreeLine();
    if (line < 2) return 0;
    if (!DB.WriteHeaderByID(line, "1") || !DB.WriteValueByID(line, "")) return 0;
    if (DB.WriteValue(Index, ValIndex, Kdb::DecimalText(line)) != 0) return 0;
    return line;
}

std::int32_t NewSlotChain(KvDataBase& DB, int gwIndex)
{
    const std::int32_t line = DB.GetNextFreeLine();
    if (line < 2) return 0;
    if (!DB.WriteHeaderByID(line, "1") || !DB.WriteValueByID(line, "")) return 0;
    if (!DB.SetGlobalVal(gwIndex, Kdb::DecimalText(line))) return 0;
    return line;
}

std::int32_t ExtendChain(KvDataBase& DB, std::int32_t LastLine)
{
    const std::int32_t line = DB.GetNextFreeLine();
    if (line < 2) return 0;
    if (!DB.WriteHeaderByID(line, "1")) return 0;
    if (!DB.WriteHeaderByID(LastLine, Kdb::DecimalText(line))) return 0;
    return line;
}
