#include "server/db/KdbCheck.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <map>
#include <unistd.h>

#include "common/Text.h"
#include "server/db/GlobalSlots.h"
#include "server/db/ItemValues.h"
#include "server/db/KdbLayout.h"

using namespace Kdb;

namespace
{

constexpr std::array<std::string_view, GlobalSlot::Logging + 1> SlotNames = {
    "UserCount",        "ChanCount",        "UserIndexBlock", "ChanIndexBlock",  "InstDate",
    "ServerPassword",   "ConnectCount",     "NetWorkName",    "LHName",          "LocalIrcPort",
    "CloseChanIfEmpty", "GetClientVersion", "GLineChain",     "DefoultLang",     "PingInterval",
    "SmtpServer",       "FromAdress",       "AutoFloodKill",  "MaxAlowedClones", "StatWriteCount",
    "EveryDayStat",     "MaxUserCount",     "MaxUserDate",    "AwayChanmode",    "Logging",
};

enum class BlockKind { Free, Data, UserIndex, ChanIndex, Unknown };

struct Entry {
    std::string Key;
    std::int32_t Position = 0;
    std::int32_t ItemID = 0;
    std::vector<std::int32_t> Lines; // the item's chain, as far as it is whole
};

struct IndexKind {
    const char* Noun;  // "nick", "channel"
    const char* Index; // "user index", "channel index"
    int CountSlot;
    BlockKind Kind;
    std::string_view Title;
};

constexpr IndexKind UserKind{"nick", "user index", GlobalSlot::UserCount, BlockKind::UserIndex,
                             UserIndexTitle};
constexpr IndexKind ChanKind{"channel", "channel index", GlobalSlot::ChanCount, BlockKind::ChanIndex,
                             ChanIndexTitle};

std::string Quoted(std::string_view Text)
{
    return "\"" + std::string(Text) + "\"";
}

class Checker
{
public:
    explicit Checker(std::string_view Image) : File(Image) {}
    KdbCheckReport Run();

private:
    std::string_view File;
    std::int32_t Length = 0;
    KdbCheckReport Report;
    int Problems = 0;
    std::vector<BlockKind> Kinds; // per whole block of the file
    std::vector<bool> Chained;    // per block: part of an index chain
    std::vector<int> LineOwner;   // per line of the block area: which chain holds it, -1 none
    std::vector<std::string> Owners;

    void Problem(const std::string& Text)
    {
        Report.Lines.push_back("inconsistent: " + Text);
        ++Problems;
    }
    void Note(const std::string& Text) { Report.Lines.push_back("note: " + Text); }
    std::string_view Bytes(std::int32_t Pos, std::int32_t Size) const
    {
        return File.substr(static_cast<std::size_t>(Pos - 1), static_cast<std::size_t>(Size));
    }
    std::string_view Slot(int Index) const { return Bytes(FieldSize * Index + 1, FieldSize); }
    std::int32_t BlockNumber(std::int32_t Pos) const { return (Pos - FirstBlock) / BlockSize; }
    std::int32_t LineNumber(std::int32_t Pos) const { return (Pos - FirstBlock) / LineSize; }
    bool IsWholeBlock(std::int32_t Pos) const
    {
        return IsBlockPosition(Pos) && BlockNumber(Pos) < static_cast<std::int32_t>(Kinds.size());
    }

    void ListSlots();
    void ClassifyBlocks();
    std::vector<Entry> WalkIndex(const IndexKind& Kind, int StartSlot);
    void CheckEntries(const IndexKind& Kind, std::vector<Entry>& Entries);
    std::vector<std::int32_t> WalkChain(const std::string& Owner, std::int32_t First,
                                        const std::string& From);
    void WalkSubChain(const Entry& Item, const IndexKind& Kind, std::int16_t Value, const char* What);
    void CheckCounters(std::size_t Users, std::size_t Channels);
    void NoteOrphans();
};

KdbCheckReport Checker::Run()
{
    if (File.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        Problem("the file is larger than positions in it can address");
    } else {
        Length = static_cast<std::int32_t>(File.size());
    }
    if (Problems == 0 && Length == 0) {
        Note("the file is empty: the server makes a new database of it when it next opens it");
    } else if (Problems == 0 && Length < NewFileLength) {
        Problem("the file is " + DecimalText(Length) + " bytes long; a record database has at least " +
                DecimalText(NewFileLength));
    } else if (Problems == 0) {
        ClassifyBlocks();
        ListSlots();
        std::vector<Entry> users = WalkIndex(UserKind, GlobalSlot::UserIndexBlock);
        std::vector<Entry> channels = WalkIndex(ChanKind, GlobalSlot::ChanIndexBlock);
        for (std::size_t block = 0; block < Kinds.size(); ++block) {
            const bool index = Kinds[block] == BlockKind::UserIndex || Kinds[block] == BlockKind::ChanIndex;
            if (index && !Chained[block])
                Note("index block " + DecimalText(FirstBlock + static_cast<std::int32_t>(block) * BlockSize) +
                     " belongs to no index chain (an overflow claim cut short)");
        }
        CheckEntries(UserKind, users);
        CheckEntries(ChanKind, channels);
        for (const Entry& user : users)
            WalkSubChain(user, UserKind, UserValue::MemoChain, "memos");
        for (const Entry& channel : channels) {
            WalkSubChain(channel, ChanKind, ChanValue::MemberChain, "member statuses");
            WalkSubChain(channel, ChanKind, ChanValue::TopicChain, "topic");
            WalkSubChain(channel, ChanKind, ChanValue::BanChain, "bans");
        }
        const std::int32_t glines = FieldNumber(Slot(GlobalSlot::GLineChain));
        if (glines >= 1) WalkChain("the G-line list", glines, "slot 12");
        CheckCounters(users.size(), channels.size());
        NoteOrphans();
    }
    Report.Lines.push_back(Problems == 0 ? "result: consistent"
                                         : "result: " + DecimalText(Problems) +
                                               (Problems == 1 ? " inconsistency" : " inconsistencies"));
    Report.ExitStatus = Problems == 0 ? 0 : 1;
    return std::move(Report);
}

void Checker::ClassifyBlocks()
{
    const std::int32_t blocks = (Length - GlobalAreaSize) / BlockSize;
    Kinds.assign(static_cast<std::size_t>(blocks), BlockKind::Free);
    Chained.assign(static_cast<std::size_t>(blocks), false);
    LineOwner.assign(static_cast<std::size_t>(blocks * LinesPerBlock), -1);
    std::int32_t counts[5] = {};
    for (std::int32_t n = 0; n < blocks; ++n) {
        const std::int32_t p = FirstBlock + n * BlockSize;
        const std::string_view header = Bytes(p, LineSize);
        BlockKind kind = BlockKind::Free;
        if (IsInUse(header[0])) {
            std::string_view title = header.substr(static_cast<std::size_t>(FieldSize));
            while (!title.empty() && (title.back() == ' ' || title.back() == '\0'))
                title.remove_suffix(1);
            if (title.substr(0, 1) == "D")
                kind = BlockKind::Data;
            else if (title == UserIndexTitle)
                kind = BlockKind::UserIndex;
            else if (title == ChanIndexTitle)
                kind = BlockKind::ChanIndex;
            else
                kind = BlockKind::Unknown;
            if (kind == BlockKind::Unknown)
                Problem("block " + DecimalText(p) + " is in use but has the unknown title " + Quoted(title));
        }
        Kinds[static_cast<std::size_t>(n)] = kind;
        ++counts[static_cast<int>(kind)];
    }
    const std::int32_t tail = (Length - GlobalAreaSize) % BlockSize;
    Report.Lines.insert(Report.Lines.begin(),
                        "file: " + DecimalText(Length) + " bytes, " + DecimalText(blocks) + " blocks (" +
                            DecimalText(counts[static_cast<int>(BlockKind::UserIndex)]) + " user index, " +
                            DecimalText(counts[static_cast<int>(BlockKind::ChanIndex)]) + " channel index, " +
                            DecimalText(counts[static_cast<int>(BlockKind::Data)]) + " data, " +
                            DecimalText(counts[static_cast<int>(BlockKind::Free)]) + " free)");
    if (tail != 0 && IsInUse(File[static_cast<std::size_t>(Length - tail)]))
        Problem("the block at " + DecimalText(Length - tail + 1) + " is cut short by the end of the file");
}

void Checker::ListSlots()
{
    for (int k = 0; k < SlotCount; ++k) {
        const std::string_view field = Slot(k);
        if (field.front() == '\0') continue; // never written
        std::string line = "slot " + std::to_string(k);
        if (k < static_cast<int>(SlotNames.size()))
            line += " (" + std::string(SlotNames[static_cast<std::size_t>(k)]) + ")";
        const std::string_view text = TrimSpaces(field);
        // A password has no business in a report that may be pasted anywhere.
        if (k == GlobalSlot::ServerPassword)
            line += text.empty() ? ": empty" : ": set";
        else
            line += ": " + Quoted(text);
        Report.Lines.push_back(line);
    }
}

std::vector<Entry> Checker::WalkIndex(const IndexKind& Kind, int StartSlot)
{
    std::vector<Entry> entries;
    const std::string name = Kind.Index;
    std::int32_t block = FieldNumber(Slot(StartSlot));
    std::string from = "slot " + std::to_string(StartSlot);
    if (!IsWholeBlock(block)) {
        Problem(from + " does not hold the first block of the " + name + " (it reads " + DecimalText(block) +
                ")");
        return entries;
    }
    while (block != 0) {
        if (!IsBlockPosition(block)) {
            Problem(from + " links to " + DecimalText(block) + ", which is not the start of a block");
            break;
        }
        if (!IsWholeBlock(block)) {
            Problem(from + " links to block " + DecimalText(block) + ", outside the file");
            break;
        }
        const auto n = static_cast<std::size_t>(BlockNumber(block));
        if (Chained[n]) {
            Problem("the " + name + " loops back to block " + DecimalText(block));
            break;
        }
        if (Kinds[n] != Kind.Kind) {
            Problem(from + " links to block " + DecimalText(block) + ", which is not a block titled " +
                    Quoted(Kind.Title) + " in use");
            break;
        }
        Chained[n] = true;
        for (std::int32_t line = 1; line < LinesPerBlock; ++line) {
            const std::int32_t p = block + line * LineSize;
            const std::string_view bytes = Bytes(p, LineSize);
            if (!IsInUse(bytes[0])) continue;
            entries.push_back(Entry{std::string(TrimTrailingSpaces(bytes.substr(0, FieldSize))),
                                    p,
                                    FieldNumber(bytes.substr(FieldSize)),
                                    {}});
        }
        from = name + " block " + DecimalText(block);
        block = FieldNumber(Bytes(block, FieldSize));
    }
    return entries;
}

void Checker::CheckEntries(const IndexKind& Kind, std::vector<Entry>& Entries)
{
    std::map<std::string, std::int32_t> first;
    for (Entry& item : Entries) {
        Report.Lines.push_back(std::string(Kind.Noun) + " " + item.Key + " item " + DecimalText(item.ItemID));
        const auto [seen, isNew] = first.emplace(item.Key, item.Position);
        if (!isNew)
            Problem(std::string(Kind.Noun) + " " + Quoted(item.Key) + " is registered twice (entries " +
                    DecimalText(seen->second) + " and " + DecimalText(item.Position) + ")");
        if (LowerCase(item.Key) != item.Key)
            Problem(std::string(Kind.Index) + " entry " + Quoted(item.Key) + " at " +
                    DecimalText(item.Position) + " is not in lower case, so no lookup ever finds it");
        item.Lines = WalkChain(std::string(Kind.Noun) + " " + item.Key, item.ItemID,
                               std::string(Kind.Index) + " entry " + Quoted(item.Key) + " at " +
                                   DecimalText(item.Position));
    }
}

// Follows a chain from First and claims its lines for Owner. Stops at the first link that leads
// anywhere a chain may not go, reporting it against the line (or entry, or slot) it came from.
std::vector<std::int32_t> Checker::WalkChain(const std::string& Owner, std::int32_t First,
                                             const std::string& From)
{
    Owners.push_back(Owner);
    const int owner = static_cast<int>(Owners.size()) - 1;
    std::vector<std::int32_t> lines;
    std::string from = From;
    for (std::int32_t p = First;;) {
        const std::string target = DecimalText(p);
        if (p > Length - LineSize + 1) {
            Problem(from + " leads to position " + target + ", outside the file");
            break;
        }
        if (!IsLinePosition(p) || !IsWholeBlock(BlockStart(p))) {
            Problem(from + " leads to position " + target + ", which is not a line of a block");
            break;
        }
        if (Kinds[static_cast<std::size_t>(BlockNumber(p))] != BlockKind::Data) {
            Problem(from + " leads to line " + target + ", which is not in a data block");
            break;
        }
        if (!IsInUse(File[static_cast<std::size_t>(p - 1)])) {
            Problem(from + " leads to free line " + target);
            break;
        }
        int& holder = LineOwner[static_cast<std::size_t>(LineNumber(p))];
        if (holder == owner) {
            Problem("the chain of " + Owner + " loops back to line " + target);
            break;
        }
        if (holder >= 0) {
            Problem("line " + target + " is reachable from two chains: " +
                    Owners[static_cast<std::size_t>(holder)] + " and " + Owner);
            break;
        }
        holder = owner;
        lines.push_back(p);
        const std::int32_t next = FieldNumber(Bytes(p, FieldSize));
        if (next < 2) break;
        from = "line " + target + " of " + Owner;
        p = next;
    }
    return lines;
}

void Checker::WalkSubChain(const Entry& Item, const IndexKind& Kind, std::int16_t Value, const char* What)
{
    if (static_cast<std::size_t>(Value) >= Item.Lines.size()) return;
    const std::int32_t line = Item.Lines[static_cast<std::size_t>(Value)];
    const std::int32_t head = FieldNumber(Bytes(line + FieldSize, FieldSize));
    if (head < 1) return; // empty, or a "[temp]" placeholder
    const std::string owner = std::string(Kind.Noun) + " " + Item.Key;
    WalkChain(std::string(What) + " of " + owner, head, "value " + std::to_string(Value) + " of " + owner);
}

// The counters are written just after the index entry, so a crash in between leaves one of them
// off by one, which the server corrects when it opens the file. Anything more is damage.
void Checker::CheckCounters(std::size_t Users, std::size_t Channels)
{
    const std::int64_t counted[2] = {FieldNumber(Slot(GlobalSlot::UserCount)),
                                     FieldNumber(Slot(GlobalSlot::ChanCount))};
    const std::int64_t actual[2] = {static_cast<std::int64_t>(Users), static_cast<std::int64_t>(Channels)};
    const IndexKind* kinds[2] = {&UserKind, &ChanKind};
    const bool oneOff = (std::llabs(counted[0] - actual[0]) + std::llabs(counted[1] - actual[1])) == 1;
    for (int i = 0; i < 2; ++i) {
        if (counted[i] == actual[i]) continue;
        const std::string text = "slot " + std::to_string(kinds[i]->CountSlot) + " counts " +
                                 DecimalText(counted[i]) + " registered " + kinds[i]->Noun + "s but the " +
                                 kinds[i]->Index + " holds " + DecimalText(actual[i]);
        if (oneOff)
            Note(text +
                 " (a registration or removal was cut short; the server corrects the count when it next "
                 "opens the file)");
        else
            Problem(text);
    }
}

void Checker::NoteOrphans()
{
    std::int32_t orphans = 0;
    for (std::size_t n = 0; n < Kinds.size(); ++n) {
        if (Kinds[n] != BlockKind::Data) continue;
        const std::int32_t block = FirstBlock + static_cast<std::int32_t>(n) * BlockSize;
        for (std::int32_t line = 1; line < LinesPerBlock; ++line) {
            const std::int32_t p = block + line * LineSize;
            if (IsInUse(File[static_cast<std::size_t>(p - 1)]) &&
                LineOwner[static_cast<std::size_t>(LineNumber(p))] < 0)
                ++orphans;
        }
    }
    if (orphans > 0)
        Note(DecimalText(orphans) + " line(s) in use belong to no chain (left by operations cut short; "
                                    "they are never handed out again)");
}

// One pass over the file; a server may be writing meanwhile.
bool ReadWhole(int File, std::string& Image)
{
    Image.clear();
    char buffer[65536];
    for (off_t offset = 0;;) {
        const ssize_t n = pread(File, buffer, sizeof buffer, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        Image.append(buffer, static_cast<std::size_t>(n));
        offset += n;
    }
}

} // namespace

KdbCheckReport CheckDataBaseImage(std::string_view Image)
{
    return Checker(Image).Run();
}

KdbCheckReport CheckDataBaseFile(const std::string& Path)
{
    KdbCheckReport unreadable;
    unreadable.ExitStatus = 2;
    // Read-only and without a lock: a running server holds the exclusive lock, and the check must
    // neither wait for it nor get in its way.
    const int fd = open(Path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        unreadable.Lines.push_back("cannot open " + Path + ": " + std::strerror(errno));
        return unreadable;
    }
    // A server may write while we read: two passes that agree make a snapshot that no single
    // write was torn across.
    std::string image;
    std::string again;
    bool stable = false;
    bool readable = true;
    for (int attempt = 0; attempt < 5 && readable && !stable; ++attempt) {
        readable = ReadWhole(fd, image) && ReadWhole(fd, again);
        stable = readable && image == again;
    }
    const int error = errno;
    close(fd);
    if (!readable) {
        unreadable.Lines.push_back("cannot read " + Path + ": " + std::strerror(error));
        return unreadable;
    }
    if (!stable) {
        unreadable.Lines.push_back("cannot read " + Path + ": it kept changing while it was read");
        return unreadable;
    }
    KdbCheckReport report = CheckDataBaseImage(image);
    report.Lines.insert(report.Lines.begin(), "database " + Path);
    return report;
}
