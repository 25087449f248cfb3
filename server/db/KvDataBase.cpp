#include "server/db/KvDataBase.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

#include "common/Clock.h"
#include "common/Text.h"
#include "server/db/GlobalSlots.h"
#include "server/db/ItemValues.h"
#include "server/db/KDBHelp.h"
#include "server/db/KdbLayout.h"

using namespace Kdb;

// Error lines name the operation the caller asked for, not the helper that failed inside it.
struct KvDataBase::OperationScope {
    KvDataBase& DB;
    const char* Saved;
    OperationScope(KvDataBase& Owner, const char* Name) : DB(Owner), Saved(Owner.Operation)
    {
        if (DB.Operation == nullptr) DB.Operation = Name;
    }
    ~OperationScope() { DB.Operation = Saved; }
    OperationScope(const OperationScope&) = delete;
    OperationScope& operator=(const OperationScope&) = delete;
};

namespace
{

std::string SystemError()
{
    return std::strerror(errno);
}

// A key must look like an entry in use (first byte above a space) and read back as itself (no
// trailing spaces), or the entry written for it would be taken for a free one or never found.
bool IsStorableKey(std::string_view Key)
{
    return !Key.empty() && IsInUse(Key.front()) && Key.back() != ' ';
}

// Keys are stored cut to the field, so lookups cut the same way: a channel name longer than the
// field is then found again instead of being registered but unreachable.
std::string KeyOf(std::string_view Name)
{
    return LowerCase(Name.substr(0, static_cast<std::size_t>(FieldSize)));
}

bool WriteWhole(int File, std::string_view Bytes, off_t Offset)
{
    std::size_t done = 0;
    while (done < Bytes.size()) {
        const ssize_t n =
            pwrite(File, Bytes.data() + done, Bytes.size() - done, Offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void SyncDirectoryOf(const std::string& Path)
{
    const std::size_t slash = Path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : Path.substr(0, slash));
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

} // namespace

KvDataBase::~KvDataBase()
{
    if (State == 1) CloseDataBase();
}

bool KvDataBase::RefuseOpen(OpenFailure Failure, std::string Text)
{
    if (FileNum >= 0) close(FileNum);
    FileNum = -1;
    State = 0;
    ForgetIndex(UserIndex);
    ForgetIndex(ChanIndex);
    LastOpenFailure = Failure;
    OpenFailureText = std::move(Text);
    return false;
}

// A new file is built complete in a file of its own and then put in place in one step, so a crash
// while creating it leaves either no database or a whole one, never a half-initialised file that a
// later start would misread.
bool KvDataBase::CreateNewFile(const std::string& Path, bool Replace, std::string& Why)
{
    std::string image(static_cast<std::size_t>(NewFileLength), '\0');
    const std::string stamp = "# " + DateTimeText(Now());
    // Stamps and titles are written as long as they are, not padded: the rest of each field stays
    // zero, as in every file created so far.
    image.replace(static_cast<std::size_t>(UserIndexStart - 1), stamp.size(), stamp);
    image.replace(static_cast<std::size_t>(UserIndexStart - 1 + FieldSize), UserIndexTitle.size(),
                  UserIndexTitle);
    image.replace(static_cast<std::size_t>(ChanIndexStart - 1), stamp.size(), stamp);
    image.replace(static_cast<std::size_t>(ChanIndexStart - 1 + FieldSize), ChanIndexTitle.size(),
                  ChanIndexTitle);
    PutField(image, FieldSize * GlobalSlot::UserCount, "0");
    PutField(image, FieldSize * GlobalSlot::ChanCount, "0");
    PutField(image, FieldSize * GlobalSlot::UserIndexBlock, DecimalText(UserIndexStart));
    PutField(image, FieldSize * GlobalSlot::ChanIndexBlock, DecimalText(ChanIndexStart));

    const std::string temp = Path + ".new-" + std::to_string(getpid());
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        Why = "cannot create " + temp + ": " + SystemError();
        return false;
    }
    const bool written = WriteWhole(fd, image, 0) && fdatasync(fd) == 0;
    if (!written) Why = "cannot write " + temp + ": " + SystemError();
    close(fd);
    if (!written) {
        unlink(temp.c_str());
        return false;
    }
    // Without Replace the file must not exist yet: link() refuses to overwrite one that another
    // process has just created, and that one is used instead.
    const bool placed = Replace ? rename(temp.c_str(), Path.c_str()) == 0
                                : (link(temp.c_str(), Path.c_str()) == 0 || errno == EEXIST);
    if (!placed) Why = "cannot create " + Path + ": " + SystemError();
    unlink(temp.c_str());
    if (placed) SyncDirectoryOf(Path);
    return placed;
}

bool KvDataBase::OpenDataBase(const std::string& Path)
{
    OperationScope scope(*this, "OpenDataBase");
    if (State == 1) CloseDataBase();
    LastOpenFailure = OpenFailure::None;
    OpenFailureText.clear();
    DBPath = Path;

    // Only one server may use a program directory: the exclusive lock on the file says so. After
    // locking, the name must still lead to the locked file, or it was replaced meanwhile (a new
    // file put in place) and the new one is locked instead.
    for (int attempt = 0;; ++attempt) {
        if (attempt == 8) return RefuseOpen(OpenFailure::CannotOpen, Path + " keeps being replaced");
        const int fd = open(Path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) {
            std::string why;
            if (!CreateNewFile(Path, false, why)) return RefuseOpen(OpenFailure::CannotOpen, why);
            continue;
        }
        if (fd < 0) return RefuseOpen(OpenFailure::CannotOpen, "cannot open " + Path + ": " + SystemError());
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const bool busy = errno == EWOULDBLOCK;
            const std::string why = SystemError();
            close(fd);
            if (busy) return RefuseOpen(OpenFailure::InUse, "database is in use by another server: " + Path);
            return RefuseOpen(OpenFailure::CannotOpen, "cannot lock " + Path + ": " + why);
        }
        struct stat opened = {};
        struct stat named = {};
        if (fstat(fd, &opened) != 0) {
            const std::string why = SystemError();
            close(fd);
            return RefuseOpen(OpenFailure::CannotOpen, "cannot examine " + Path + ": " + why);
        }
        if (stat(Path.c_str(), &named) != 0 || named.st_ino != opened.st_ino ||
            named.st_dev != opened.st_dev) {
            close(fd);
            continue;
        }
        if (opened.st_size == 0) {
            // An empty file (made by hand, or left by a crash) becomes a new database; it is
            // replaced while we hold its lock, so nobody else can be using it.
            std::string why;
            const bool created = CreateNewFile(Path, true, why);
            close(fd);
            if (!created) return RefuseOpen(OpenFailure::CannotOpen, why);
            continue;
        }
        if (opened.st_size > std::numeric_limits<std::int32_t>::max()) {
            close(fd);
            return RefuseOpen(OpenFailure::Damaged,
                              Path + " is larger than positions in the file can address");
        }
        FileNum = fd;
        KnownLength = static_cast<std::int32_t>(opened.st_size);
        break;
    }

    std::string slots;
    if (!ReadAt(1, FieldSize * 4, slots))
        return RefuseOpen(OpenFailure::Damaged, Path + " is too short to be a record database");
    UserIndexBlock = FieldNumber(GetField(slots, FieldSize * GlobalSlot::UserIndexBlock));
    ChanIndexBlock = FieldNumber(GetField(slots, FieldSize * GlobalSlot::ChanIndexBlock));
    const auto fits = [this](std::int32_t Block) {
        return IsBlockPosition(Block) && Block <= KnownLength - BlockSize + 1;
    };
    // An existing file is otherwise trusted, but without its index positions it is no record
    // database at all, and writing into it would only make things worse.
    if (!fits(UserIndexBlock) || !fits(ChanIndexBlock) || UserIndexBlock == ChanIndexBlock)
        return RefuseOpen(OpenFailure::Damaged,
                          Path + " is not a record database: slots 2 and 3 do not hold its index blocks");
    UserIndex.Start = UserIndexBlock;
    UserIndex.Title = UserIndexTitle;
    ChanIndex.Start = ChanIndexBlock;
    ChanIndex.Title = ChanIndexTitle;
    if (!LoadIndex(UserIndex) || !LoadIndex(ChanIndex))
        return RefuseOpen(OpenFailure::Damaged, Path + " is damaged: an index chain cannot be read");
    FreeScanFrom = ChanIndexBlock;
    State = 1;

    // The index is the truth about what is registered. The counters follow it with a separate
    // write, so a crash between the two leaves them one off; they are set right here.
    UserCount = UserIndex.InUseCount;
    ChanCount = ChanIndex.InUseCount;
    if (FieldNumber(GetField(slots, FieldSize * GlobalSlot::UserCount)) != UserCount ||
        FieldNumber(GetField(slots, FieldSize * GlobalSlot::ChanCount)) != ChanCount)
        SaveCounts();
    return true;
}

void KvDataBase::CloseDataBase()
{
    if (FileNum >= 0) close(FileNum); // also releases the lock
    FileNum = -1;
    State = 0;
    ForgetIndex(UserIndex);
    ForgetIndex(ChanIndex);
}

bool KvDataBase::Sync()
{
    OperationScope scope(*this, "Sync");
    if (State != 1) return false;
    if (fdatasync(FileNum) == 0) return true;
    Fail("fdatasync failed: " + SystemError());
    return false;
}

void KvDataBase::FailWritesAfter(long Count)
{
    WriteLimit = Count < 0 ? -1 : WriteCounter + Count;
}

void KvDataBase::Fail(std::string_view Description)
{
    std::string line = "ERROR ";
    line += Operation != nullptr ? Operation : "KvDataBase";
    line += ' ';
    line += Description;
    if (LogError) {
        LogError(line);
        return;
    }
    std::fprintf(stderr, "%s\n", line.c_str());
}

bool KvDataBase::ReadAt(std::int32_t Pos, std::int32_t Length, std::string& Out)
{
    if (FileNum < 0) return false;
    if (Pos < 1) {
        Fail("read at position " + DecimalText(Pos) + " refused: positions start at 1");
        return false;
    }
    Out.assign(static_cast<std::size_t>(Length), '\0');
    std::size_t done = 0;
    while (done < Out.size()) {
        const ssize_t n = pread(FileNum, Out.data() + done, Out.size() - done,
                                static_cast<off_t>(Pos) - 1 + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            Fail("read of " + DecimalText(Length) + " bytes at position " + DecimalText(Pos) +
                 " failed: " + SystemError());
            return false;
        }
        if (n == 0) {
            struct stat info = {};
            const std::string size = fstat(FileNum, &info) == 0 ? DecimalText(info.st_size) : "?";
            Fail("read of " + DecimalText(Length) + " bytes at position " + DecimalText(Pos) +
                 " failed: the file ends after " + size + " bytes");
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool KvDataBase::WriteAt(std::int32_t Pos, std::string_view Bytes)
{
    if (FileNum < 0) return false;
    const std::string where =
        DecimalText(static_cast<std::int64_t>(Bytes.size())) + " bytes at position " + DecimalText(Pos);
    if (Pos < 1) {
        Fail("write of " + where + " refused: positions start at 1");
        return false;
    }
    if (WriteLimit >= 0 && WriteCounter >= WriteLimit) {
        Fail("write of " + where + " refused: writing has been stopped");
        return false;
    }
    if (!WriteWhole(FileNum, Bytes, static_cast<off_t>(Pos) - 1)) {
        Fail("write of " + where + " failed: " + SystemError());
        return false;
    }
    ++WriteCounter;
    AfterWrite(Pos, static_cast<std::int32_t>(Bytes.size()));
    return true;
}

bool KvDataBase::WriteFieldAt(std::int32_t Pos, std::string_view Text)
{
    return WriteAt(Pos, PadField(Text));
}

// Keeps the index caches and the free-line scan in step with the file.
void KvDataBase::AfterWrite(std::int32_t Pos, std::int32_t Length)
{
    if (Length < 1 || Pos < FirstBlock) return;
    // Writes are at most a line long, so they touch one block or two neighbours.
    const std::int32_t last = Pos + (Length - 1);
    const std::int32_t touched[2] = {BlockStart(Pos), BlockStart(last)};
    for (int i = 0; i < (touched[0] == touched[1] ? 1 : 2); ++i) {
        const std::int32_t block = touched[i];
        if (block >= ChanIndexBlock && block < FreeScanFrom) FreeScanFrom = block;
        const auto found = IndexOfBlock.find(block);
        if (found == IndexOfBlock.end()) continue;
        IndexCache& index = *found->second.Cache;
        const std::int32_t ordinal = found->second.Ordinal;
        const std::int32_t firstLine = (std::max(Pos, block) - block) / LineSize;
        const std::int32_t lastLine = std::min(last - block, BlockSize - 1) / LineSize;
        if (firstLine == 0) {
            // The link to the next block may have changed: read the chain again.
            LoadIndex(index);
            continue;
        }
        for (std::int32_t line = firstLine; line <= lastLine; ++line) {
            std::string bytes;
            if (ReadAt(block + line * LineSize, LineSize, bytes))
                SetEntry(index, ordinal * LinesPerBlock + line, bytes);
        }
    }
}

bool KvDataBase::CheckLine(std::int32_t Pos)
{
    if (IsLinePosition(Pos) && Pos <= KnownLength - LineSize + 1) return true;
    Fail("position " + DecimalText(Pos) + " is not a line of the file");
    return false;
}

// Lines are written by position only inside data blocks: a damaged position must not let a caller
// overwrite an index entry or a block header.
bool KvDataBase::CheckWritableLine(std::int32_t Pos)
{
    if (!CheckLine(Pos)) return false;
    if (IndexOfBlock.count(BlockStart(Pos)) == 0) return true;
    Fail("position " + DecimalText(Pos) + " lies in an index block");
    return false;
}

// ---- Indexes ----

bool KvDataBase::LoadIndex(IndexCache& Index)
{
    ForgetIndex(Index);
    std::unordered_set<std::int32_t> seen;
    for (std::int32_t block = Index.Start; block != 0;) {
        if (!IsBlockPosition(block) || block > KnownLength - BlockSize + 1) {
            Fail(std::string(Index.Title) + " leads to position " + DecimalText(block) +
                 ", which is not a block of the file");
            return false;
        }
        if (!seen.insert(block).second) {
            Fail(std::string(Index.Title) + " loops back to block " + DecimalText(block));
            return false;
        }
        std::string bytes;
        if (!ReadAt(block, BlockSize, bytes)) return false;
        const auto ordinal = static_cast<std::int32_t>(Index.Blocks.size());
        Index.Blocks.push_back(block);
        Index.Entries.resize(Index.Entries.size() + LinesPerBlock);
        IndexOfBlock[block] = IndexBlockRef{&Index, ordinal};
        const std::string_view view(bytes);
        for (std::int32_t line = 1; line < LinesPerBlock; ++line)
            SetEntry(Index, ordinal * LinesPerBlock + line,
                     view.substr(static_cast<std::size_t>(line * LineSize), LineSize));
        // The first block's stamp ("# " and a date) reads as 0, which ends the chain.
        block = FieldNumber(GetField(view, 0));
    }
    return true;
}

void KvDataBase::ForgetIndex(IndexCache& Index)
{
    for (const std::int32_t block : Index.Blocks)
        IndexOfBlock.erase(block);
    Index.Blocks.clear();
    Index.Entries.clear();
    Index.Ranks.clear();
    Index.FreeRanks.clear();
    Index.InUseCount = 0;
}

void KvDataBase::SetEntry(IndexCache& Index, std::int32_t Rank, std::string_view Line)
{
    IndexEntry& entry = Index.Entries[static_cast<std::size_t>(Rank)];
    if (entry.InUse) {
        const auto keyed = Index.Ranks.find(entry.Key);
        keyed->second.erase(Rank);
        if (keyed->second.empty()) Index.Ranks.erase(keyed);
        --Index.InUseCount;
    } else {
        Index.FreeRanks.erase(Rank);
    }
    entry.InUse = !Line.empty() && IsInUse(Line.front());
    if (!entry.InUse) {
        entry.Key.clear();
        entry.ItemID = 0;
        Index.FreeRanks.insert(Rank);
        return;
    }
    entry.Key = std::string(TrimTrailingSpaces(GetField(Line, 0)));
    entry.ItemID = FieldNumber(GetField(Line, FieldSize));
    Index.Ranks[entry.Key].insert(Rank);
    ++Index.InUseCount;
}

std::int32_t KvDataBase::EntryPosition(const IndexCache& Index, std::int32_t Rank) const
{
    return Index.Blocks[static_cast<std::size_t>(Rank / LinesPerBlock)] + Rank % LinesPerBlock * LineSize;
}

std::int32_t KvDataBase::FindEntry(const IndexCache& Index, const std::string& Key) const
{
    const auto found = Index.Ranks.find(Key);
    if (found == Index.Ranks.end()) return 0;
    return EntryPosition(Index, *found->second.begin());
}

KvDataBase::IndexCache* KvDataBase::IndexStartingAt(std::int32_t StartBlock)
{
    if (StartBlock == UserIndexBlock) return &UserIndex;
    if (StartBlock == ChanIndexBlock) return &ChanIndex;
    return nullptr;
}

// ---- Global slots ----

bool KvDataBase::SetGlobalVal(int gwIndex, std::string_view Value)
{
    OperationScope scope(*this, "SetGlobalVal");
    if (State != 1) return false;
    if (gwIndex < 0 || gwIndex >= SlotCount) {
        Fail("there is no slot " + DecimalText(gwIndex));
        return false;
    }
    return WriteFieldAt(FieldSize * gwIndex + 1, Value);
}

std::string KvDataBase::GetGlobalVal(int gwIndex)
{
    OperationScope scope(*this, "GetGlobalVal");
    if (State != 1) return {};
    if (gwIndex < 0 || gwIndex >= SlotCount) {
        Fail("there is no slot " + DecimalText(gwIndex));
        return {};
    }
    std::string field;
    if (!ReadAt(FieldSize * gwIndex + 1, FieldSize, field) || field.front() == '\0') return {};
    return std::string(TrimSpaces(field));
}

void KvDataBase::SaveCounts()
{
    SetGlobalVal(GlobalSlot::UserCount, DecimalText(UserCount));
    SetGlobalVal(GlobalSlot::ChanCount, DecimalText(ChanCount));
}

// ---- Blocks and lines ----

// Order: growth, then the new block's header, then the link from the previous index block. A crash
// after the growth leaves free zero blocks; after the header, a claimed block nothing points to yet.
// Never a link to a block that is still free.
std::int32_t KvDataBase::NewBlock(std::int32_t FromPos, std::int32_t PrevLink, std::string_view BlockTitle)
{
    for (std::int32_t p = FromPos;; p += BlockSize) {
        if (p > std::numeric_limits<std::int32_t>::max() - GrowthStep) {
            Fail("the file cannot grow further: positions would pass 2147483647");
            return 0;
        }
        if (p + BlockSize > KnownLength) {
            if (!WriteAt(p + GrowthStep, std::string_view("\0", 1))) return 0;
            KnownLength = p + GrowthStep;
        }
        std::string first;
        if (!ReadAt(p, 1, first)) return 0;
        if (IsInUse(first.front())) continue;
        std::string header(static_cast<std::size_t>(LineSize), ' ');
        PutField(header, 0, "# " + DateTimeText(Now()));
        PutField(header, FieldSize, BlockTitle);
        if (!WriteAt(p, header)) return 0;
        if (PrevLink > 0 && !WriteFieldAt(PrevLink, DecimalText(p))) return 0;
        return p;
    }
}

// The line handed out is not marked: it stays free until the caller writes its header, so a caller
// that needs several lines marks each before asking for the next.
std::int32_t KvDataBase::GetNextFreeLine()
{
    OperationScope scope(*this, "GetNextFreeLine");
    if (State != 1) return 0;
    for (std::int32_t p = std::max(ChanIndexBlock, FreeScanFrom); p <= KnownLength - LineSize;
         p += BlockSize) {
        std::string header;
        if (!ReadAt(p, LineSize, header)) return 0;
        if (IsInUse(header[0]) && header[FieldSize] == 'D') {
            std::string block;
            if (!ReadAt(p, BlockSize, block)) return 0;
            for (std::int32_t line = 1; line < LinesPerBlock; ++line)
                if (!IsInUse(block[static_cast<std::size_t>(line * LineSize)])) return p + line * LineSize;
        }
        if (p > std::numeric_limits<std::int32_t>::max() - BlockSize) break;
        if (FreeScanFrom == p) FreeScanFrom = p + BlockSize;
    }
    const std::int32_t block = NewBlock(ChanIndexBlock, 0, DataTitle);
    if (block < 1) return 0;
    return block + LineSize;
}

// ---- Items ----

// Everything a new item needs except its index entry: a free entry (an overflow block when the
// index is full) and the item's first line, already marked in use. Returns the item ID, 0 when the
// key is registered already, -1 when the file could not take it.
std::int32_t KvDataBase::PrepareItem(IndexCache& Index, const std::string& Key, std::int32_t& Entry)
{
    if (Index.Ranks.count(Key) != 0) return 0;
    Entry = Index.FreeRanks.empty() ? 0 : EntryPosition(Index, *Index.FreeRanks.begin());
    if (Entry == 0) {
        if (Index.Blocks.empty()) return -1;
        const std::int32_t block = NewBlock(UserIndexBlock, Index.Blocks.back(), Index.Title);
        if (block < 1) return -1;
        Entry = block + LineSize;
    }
    const std::int32_t id = GetNextFreeLine();
    if (id < 2) return -1;
    if (!WriteFieldAt(id, "1")) return -1;
    return id;
}

bool KvDataBase::WriteIndexEntry(std::int32_t Entry, std::string_view Key, std::int32_t ItemID)
{
    return WriteAt(Entry, PadField(Key) + PadField(DecimalText(ItemID)));
}

// The item's first line is marked before the index entry points to it.
std::int32_t KvDataBase::CreateRootItem(std::int32_t StartBlock, std::string_view ItemName)
{
    OperationScope scope(*this, "CreateRootItem");
    if (State != 1) return 0;
    IndexCache* index = IndexStartingAt(StartBlock);
    if (index == nullptr) {
        Fail("position " + DecimalText(StartBlock) + " is not the first block of an index");
        return 0;
    }
    const std::string key(ItemName.substr(0, static_cast<std::size_t>(FieldSize)));
    if (!IsStorableKey(key)) {
        Fail("\"" + key + "\" cannot be stored as a key");
        return 0;
    }
    std::int32_t entry = 0;
    const std::int32_t id = PrepareItem(*index, key, entry);
    if (id < 1 || !WriteIndexEntry(entry, key, id)) return 0;
    return id;
}

// Every value is written while the item is still unreachable; the index entry comes last and
// makes the whole registration appear at once. A crash before it loses the registration and leaves
// its lines unreachable; after it, only the counter in slot 0 can lag by one until the next start.
std::int16_t KvDataBase::CreateUser(std::string_view Nick, std::string_view Password, std::string_view EMail,
                                    std::string_view Lanw)
{
    OperationScope scope(*this, "CreateUser");
    if (State != 1) return -1;
    const std::string key = KeyOf(Nick);
    if (!IsStorableKey(key)) {
        Fail("nick \"" + key + "\" cannot be stored as a key");
        return -1;
    }
    std::int32_t entry = 0;
    const std::int32_t id = PrepareItem(UserIndex, key, entry);
    if (id == 0) return 1;
    if (id < 0) return -1;
    const std::string now = DateTimeText(Now());
    const bool written =
        WriteValue(id, UserValue::Nick, Nick) == 0 && WriteValue(id, UserValue::Password, Password) == 0 &&
        WriteValue(id, UserValue::EMail, EMail) == 0 && WriteValue(id, UserValue::RegisterDate, now) == 0 &&
        WriteValue(id, UserValue::SaveDate, now) == 0 && WriteValue(id, UserValue::Language, Lanw) == 0;
    if (!written || !WriteIndexEntry(entry, key, id)) return -1;
    ++UserCount;
    SaveCounts();
    return 0;
}

// Same order as CreateUser.
std::int16_t KvDataBase::CreateChannel(std::string_view ChannelName, std::string_view Owner,
                                       std::string_view Password)
{
    OperationScope scope(*this, "CreateChannel");
    if (State != 1) return -1;
    const std::string key = KeyOf(ChannelName);
    if (!IsStorableKey(key)) {
        Fail("channel \"" + key + "\" cannot be stored as a key");
        return -1;
    }
    std::int32_t entry = 0;
    const std::int32_t id = PrepareItem(ChanIndex, key, entry);
    if (id == 0) return 1;
    if (id < 0) return -1;
    const std::string now = DateTimeText(Now());
    const bool written =
        WriteValue(id, ChanValue::Name, ChannelName) == 0 && WriteValue(id, ChanValue::Owner, Owner) == 0 &&
        WriteValue(id, ChanValue::Password, Password) == 0 &&
        WriteValue(id, ChanValue::FoundDate, now) == 0 && WriteValue(id, ChanValue::SaveDate, now) == 0 &&
        WriteValue(id, ChanValue::BanChain, "") == 0;
    if (!written || !WriteIndexEntry(entry, key, id)) return -1;
    ++ChanCount;
    SaveCounts();
    return 0;
}

// Unlinking comes first: once the entry is 64 NUL bytes nothing reaches the item, so freeing its
// sub-chains and lines afterwards can be cut short by a crash without leaving an entry or value
// that leads to a free line. The counter follows right after the entry.
std::int16_t KvDataBase::RemoveItem(IndexCache& Index, std::string_view Name, std::int32_t& Count,
                                    std::initializer_list<std::int16_t> SubChains)
{
    if (State != 1) return -1;
    const std::int32_t entry = FindEntry(Index, KeyOf(Name));
    if (entry == 0) return 0;
    std::string line;
    if (!ReadAt(entry, LineSize, line)) return -1;
    const std::int32_t id = FieldNumber(GetField(line, FieldSize));
    std::vector<std::int32_t> heads;
    for (const std::int16_t value : SubChains) {
        const std::int32_t head = GetSubItem(id, value);
        if (head >= 2) heads.push_back(head);
    }
    if (!WriteAt(entry, std::string(static_cast<std::size_t>(LineSize), '\0'))) return -1;
    if (Count > 0) --Count;
    SaveCounts();
    for (const std::int32_t head : heads)
        FreeChain(*this, head);
    if (IsLinePosition(id)) FreeChain(*this, id);
    return 0;
}

std::int16_t KvDataBase::RemoveUser(std::string_view Nick)
{
    OperationScope scope(*this, "RemoveUser");
    return RemoveItem(UserIndex, Nick, UserCount, {UserValue::MemoChain});
}

std::int16_t KvDataBase::RemoveChan(std::string_view ChannelName)
{
    OperationScope scope(*this, "RemoveChan");
    return RemoveItem(ChanIndex, ChannelName, ChanCount,
                      {ChanValue::MemberChain, ChanValue::TopicChain, ChanValue::BanChain});
}

std::int32_t KvDataBase::GetUserID(std::string_view Nick)
{
    if (State != 1) return 0;
    const auto found = UserIndex.Ranks.find(KeyOf(Nick));
    if (found == UserIndex.Ranks.end()) return 0;
    return UserIndex.Entries[static_cast<std::size_t>(*found->second.begin())].ItemID;
}

std::int32_t KvDataBase::GetChanID(std::string_view ChannelName)
{
    if (State != 1) return 0;
    const auto found = ChanIndex.Ranks.find(KeyOf(ChannelName));
    if (found == ChanIndex.Ranks.end()) return 0;
    return ChanIndex.Entries[static_cast<std::size_t>(*found->second.begin())].ItemID;
}

// ---- Chains ----

// Position of line ValIndex, or -k when the chain ends after k lines (LastLPos is then its last
// line), or 0 with Broken set when a link leads outside the lines of the file.
std::int32_t KvDataBase::WalkChain(std::int32_t Index, std::int16_t ValIndex, std::int32_t& LastLPos,
                                   bool& Broken)
{
    Broken = false;
    if (ValIndex < 1) return Index;
    std::int32_t p = Index;
    for (std::int32_t i = 1; i <= ValIndex; ++i) {
        LastLPos = p;
        std::string header;
        if (!CheckLine(p) || !ReadAt(p, FieldSize, header)) {
            Broken = true;
            return 0;
        }
        p = FieldNumber(header);
        if (p < 2) return -i;
    }
    return p;
}

std::int32_t KvDataBase::GetValPos(std::int32_t Index, std::int16_t ValIndex, std::int32_t& LastLPos)
{
    OperationScope scope(*this, "GetValPos");
    if (ValIndex < 1) return Index;
    if (State != 1) return 0;
    bool broken = false;
    return WalkChain(Index, ValIndex, LastLPos, broken);
}

std::int32_t KvDataBase::GetNextItem(std::int32_t ValueID)
{
    OperationScope scope(*this, "GetNextItem");
    std::string header;
    if (State != 1 || !CheckLine(ValueID) || !ReadAt(ValueID, FieldSize, header)) return 0;
    return FieldNumber(header);
}

std::int32_t KvDataBase::GetSubItemByID(std::int32_t ValueID)
{
    OperationScope scope(*this, "GetSubItemByID");
    std::string value;
    if (State != 1 || !CheckLine(ValueID) || !ReadAt(ValueID + FieldSize, FieldSize, value)) return 0;
    return FieldNumber(value);
}

std::int32_t KvDataBase::GetSubItem(std::int32_t Index, std::int16_t ValIndex)
{
    OperationScope scope(*this, "GetSubItem");
    if (State != 1) return 0;
    std::int32_t last = 0;
    bool broken = false;
    const std::int32_t p = WalkChain(Index, ValIndex, last, broken);
    if (p < 1) return p;
    std::string value;
    if (!CheckLine(p) || !ReadAt(p + FieldSize, FieldSize, value)) return 0;
    return FieldNumber(value);
}

std::string KvDataBase::ReadValue(std::int32_t Index, std::int16_t ValIndex)
{
    OperationScope scope(*this, "ReadValue");
    if (State != 1) return {};
    std::int32_t last = 0;
    bool broken = false;
    const std::int32_t p = WalkChain(Index, ValIndex, last, broken);
    if (p < 1) return {};
    std::string value;
    if (!CheckLine(p) || !ReadAt(p + FieldSize, FieldSize, value) || value.front() == '\0') return {};
    return std::string(TrimTrailingSpaces(value));
}

std::string KvDataBase::ReadValueByID(std::int32_t ValueID)
{
    OperationScope scope(*this, "ReadValueByID");
    std::string value;
    if (State != 1 || !CheckLine(ValueID) || !ReadAt(ValueID + FieldSize, FieldSize, value)) return {};
    return std::string(TrimTrailingSpaces(value));
}

bool KvDataBase::WriteValueByID(std::int32_t ValueID, std::string_view Value)
{
    OperationScope scope(*this, "WriteValueByID");
    return State == 1 && CheckWritableLine(ValueID) && WriteFieldAt(ValueID + FieldSize, Value);
}

bool KvDataBase::WriteHeaderByID(std::int32_t ValueID, std::string_view Value)
{
    OperationScope scope(*this, "WriteHeaderByID");
    return State == 1 && CheckWritableLine(ValueID) && WriteFieldAt(ValueID, Value);
}

// A chain too short for ValIndex grows one line at a time, and each new line is marked in use
// ("1" in its header) before the chain's last line is made to point to it: a crash in between
// leaves an unreachable line, never a chain that leads to a free one. Lines added this way keep
// whatever their value field held while free, which reads as empty.
std::int16_t KvDataBase::WriteValue(std::int32_t Index, std::int16_t ValIndex, std::string_view Value)
{
    OperationScope scope(*this, "WriteValue");
    if (State != 1) return -1;
    std::int32_t last = 0;
    bool broken = false;
    std::int32_t p = WalkChain(Index, ValIndex, last, broken);
    if (broken) return -1;
    if (p < 0) {
        std::string lastHeader;
        if (!CheckWritableLine(last) || !ReadAt(last, FieldSize, lastHeader)) return -1;
        // A first line that was never written is still free, and GetNextFreeLine would hand it
        // out again as its own successor: mark it before asking for more lines.
        if (!IsInUse(lastHeader.front()) && !WriteFieldAt(last, "1")) return -1;
        for (std::int32_t missing = ValIndex + p + 1; missing > 0; --missing) {
            const std::int32_t line = GetNextFreeLine();
            if (line < 2) return -1;
            if (!WriteFieldAt(line, "1") || !WriteFieldAt(last, DecimalText(line))) return -1;
            last = line;
        }
        p = last;
    }
    std::string header;
    if (!CheckWritableLine(p) || !ReadAt(p, FieldSize, header)) return -1;
    // The first line of an item that was never written reads as 0: "1" marks it in use.
    if (FieldNumber(header) == 0 && !WriteFieldAt(p, "1")) return -1;
    if (!WriteFieldAt(p + FieldSize, Value)) return -1;
    return 0;
}
