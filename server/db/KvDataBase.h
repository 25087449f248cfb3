#pragma once
// The record database: one random-access file that holds the server's settings (global slots), the
// registered nicks and channels (items, found by name through two index chains) and their lists
// (sub-chains). The class stores short texts in chains of 64-byte lines and knows nothing of what
// they mean; the value numbers are in ItemValues.h and the slots in GlobalSlots.h.
//
// Every write reaches the file before the operation returns, ordered so that a process killed at
// any instant leaves a file whose chains and indexes are whole: at worst a few lines stay marked in
// use without belonging to anything. Sync() makes what has been written durable; the server calls
// it once per command, before it answers.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Why OpenDataBase failed, so that a second server started in the same directory can say so
// instead of running with defaults as if the file were unreadable.
enum class OpenFailure { None, InUse, CannotOpen, Damaged };

class KvDataBase
{
public:
    KvDataBase() = default;
    ~KvDataBase();
    KvDataBase(const KvDataBase&) = delete;
    KvDataBase& operator=(const KvDataBase&) = delete;

    std::int32_t UserCount = 0;
    std::int32_t ChanCount = 0;
    std::int16_t State = 0; // 1 while the file is open
    // Gets "ERROR " + operation + " " + description for every read or write that fails; the
    // operation then fails harmlessly. Unset, the lines go to standard error.
    std::function<void(const std::string&)> LogError;
    OpenFailure LastOpenFailure = OpenFailure::None;
    std::string OpenFailureText; // why the last OpenDataBase failed, fit to show an administrator

    bool OpenDataBase(const std::string& Path);
    bool SetGlobalVal(int gwIndex, std::string_view Value);
    std::string GetGlobalVal(int gwIndex);
    // 0 created, 1 the name is registered already, -1 the file could not take it.
    std::int16_t CreateUser(std::string_view Nick, std::string_view Password, std::string_view EMail,
                            std::string_view Lanw);
    std::int16_t CreateChannel(std::string_view ChannelName, std::string_view Owner,
                               std::string_view Password);
    std::int32_t CreateRootItem(std::int32_t StartBlock, std::string_view ItemName);
    // 0, or -1 when the file could not take the change. The item's lines and its sub-chains are
    // freed after the index entry is gone.
    std::int16_t RemoveUser(std::string_view Nick);
    std::int16_t RemoveChan(std::string_view ChannelName);
    std::int32_t GetUserID(std::string_view Nick);
    std::int32_t GetChanID(std::string_view ChannelName);
    std::int32_t GetValPos(std::int32_t Index, std::int16_t ValIndex, std::int32_t& LastLPos);
    std::int32_t GetNextItem(std::int32_t ValueID);
    std::int32_t GetSubItemByID(std::int32_t ValueID);
    std::int32_t GetSubItem(std::int32_t Index, std::int16_t ValIndex);
    std::string ReadValue(std::int32_t Index, std::int16_t ValIndex);
    std::string ReadValueByID(std::int32_t ValueID);
    bool WriteValueByID(std::int32_t ValueID, std::string_view Value);
    bool WriteHeaderByID(std::int32_t ValueID, std::string_view Value);
    // 0, or -1 when the value could not be written.
    std::int16_t WriteValue(std::int32_t Index, std::int16_t ValIndex, std::string_view Value);
    std::int32_t GetNextFreeLine();
    void CloseDataBase();
    // Makes every write so far durable (fdatasync). Once per command, not per write.
    bool Sync();

    // Test seam: after Count more writes every write fails without touching the file, as if the
    // process had been killed right there. A negative Count lifts the limit.
    void FailWritesAfter(long Count);
    long WritesDone() const { return WriteCounter; }

private:
    struct OperationScope;

    // An index chain kept in memory so that a lookup reads nothing from the file. It is built at
    // opening and refreshed from the file after every write that touches one of its blocks, so it
    // answers exactly as walking the chain in the file would, first match included.
    struct IndexEntry {
        bool InUse = false;
        std::string Key; // trailing spaces removed
        std::int32_t ItemID = 0;
    };
    struct IndexCache {
        std::int32_t Start = 0;
        std::string_view Title;
        std::vector<std::int32_t> Blocks; // in chain order
        // Indexed by rank: block ordinal in the chain * 64 + line, which is the order of a walk.
        std::vector<IndexEntry> Entries;
        std::unordered_map<std::string, std::set<std::int32_t>> Ranks; // key -> ranks of entries in use
        std::set<std::int32_t> FreeRanks;
        std::int32_t InUseCount = 0;
    };
    struct IndexBlockRef {
        IndexCache* Cache = nullptr;
        std::int32_t Ordinal = 0;
    };

    void SaveCounts();
    std::int32_t NewBlock(std::int32_t FromPos, std::int32_t PrevLink, std::string_view BlockTitle);

    bool RefuseOpen(OpenFailure Failure, std::string Text);
    bool CreateNewFile(const std::string& Path, bool Replace, std::string& Why);
    void Fail(std::string_view Description);
    bool ReadAt(std::int32_t Pos, std::int32_t Length, std::string& Out);
    bool WriteAt(std::int32_t Pos, std::string_view Bytes);
    bool WriteFieldAt(std::int32_t Pos, std::string_view Text);
    void AfterWrite(std::int32_t Pos, std::int32_t Length);
    bool CheckLine(std::int32_t Pos);
    bool CheckWritableLine(std::int32_t Pos);
    std::int32_t WalkChain(std::int32_t Index, std::int16_t ValIndex, std::int32_t& LastLPos, bool& Broken);

    bool LoadIndex(IndexCache& Index);
    void ForgetIndex(IndexCache& Index);
    void SetEntry(IndexCache& Index, std::int32_t Rank, std::string_view Line);
    std::int32_t EntryPosition(const IndexCache& Index, std::int32_t Rank) const;
    std::int32_t FindEntry(const IndexCache& Index, const std::string& Key) const;
    IndexCache* IndexStartingAt(std::int32_t StartBlock);
    std::int32_t PrepareItem(IndexCache& Index, const std::string& Key, std::int32_t& Entry);
    bool WriteIndexEntry(std::int32_t Entry, std::string_view Key, std::int32_t ItemID);
    std::int16_t RemoveItem(IndexCache& Index, std::string_view Name, std::int32_t& Count,
                            std::initializer_list<std::int16_t> SubChains);

    std::string DBPath;
    int FileNum = -1;
    std::int32_t ChanIndexBlock = 0;
    std::int32_t UserIndexBlock = 0;
    std::int32_t KnownLength = 0;
    // Every block between ChanIndexBlock and this one is known to hold no free data line; any write
    // into a block moves it back, so GetNextFreeLine skips only what it would have found full.
    std::int32_t FreeScanFrom = 0;
    IndexCache UserIndex;
    IndexCache ChanIndex;
    std::unordered_map<std::int32_t, IndexBlockRef> IndexOfBlock;
    const char* Operation = nullptr;
    long WriteLimit = -1;
    long WriteCounter = 0;
};
