#pragma once
// One chat channel. Channel objects are never freed while the server runs: a closed channel
// keeps its place in the server's ircChannels with State 0 and is reused by the next JOIN of
// a new name, so pointers held in connection slots stay valid.

#include "common/Clock.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class IRCConnection;
class IRCServer;
class IRCChannel;

// A ban (channel ban or G-line): a fixed record of 308 bytes when stored.
struct BanEntry {
    static constexpr std::size_t SetByLength = 30;
    static constexpr std::size_t MaskLength = 120;
    static constexpr std::size_t RecordSize = 8 + SetByLength * 2 + MaskLength * 2;
    Date SetDate = 0;
    std::string SetBy; // at most 30 characters
    std::string Mask;  // at most 120 characters; empty means a free slot
    bool IsEmpty() const { return Mask.empty() || Mask[0] == ' ' || Mask[0] == '\0'; }
};
static_assert(BanEntry::RecordSize == 308, "ban records are 308 bytes");

// One of a connection's 32 channel memberships.
struct ChannelSlot {
    IRCChannel* Channel = nullptr;
    bool InUse = false;
    bool StatusV = false;
    bool StatusH = false;
    bool StatusO = false;
    bool StatusQ = false;
    bool StatusA = false;
    std::int32_t StatLines = 0;
    std::int32_t StatWords = 0;
};

constexpr int MaxChannelSlots = 32;
constexpr int MaxBans = 64;

// Mode numbers; also the skill numbers of the rank table.
namespace ChanMode
{
constexpr int Moderated = 1;  // m
constexpr int NoExternal = 2; // n
constexpr int TopicLock = 3;  // t
constexpr int Private = 4;    // p
constexpr int Secret = 5;     // s
constexpr int InviteOnly = 6; // i
constexpr int Key = 7;        // k
constexpr int HideStatus = 8; // j
constexpr int Ban = 9;        // b
constexpr int Voice = 10;     // v
constexpr int HalfOp = 11;    // h
constexpr int Op = 12;        // o
constexpr int Admin = 13;     // a
constexpr int Owner = 14;     // q
} // namespace ChanMode

class IRCChannel
{
public:
    std::string ModeKStr;
    std::vector<IRCConnection*> Users;
    int State = 0; // 1 open, 0 free
    std::string Name;
    std::string Topic;
    std::string Owner;
    Date FoundDate = 0;
    Date TopicDate = 0;
    std::string TopicSeter;
    bool WriteStat = false;
    IRCServer* bindServer = nullptr;

    int GetMode(int MType) const;
    void SendModelist(IRCConnection& Sender);
    std::string GetModelist(bool WithBr) const;
    bool IsBanned(const IRCConnection& User) const;
    void SendBannlist(IRCConnection& Sender);
    void SetMode(std::string_view Mode, bool Remove, IRCConnection& Sender, std::string_view Parameter);
    void AddToModeBuffer(IRCConnection& Sender, std::string_view Mode, bool Remove,
                         std::string_view Parameter, std::string_view SenderStr, bool NotToMe);
    void SendModeBuffer(IRCConnection& Sender, std::string_view SenderStr, bool NotToMe);
    void SaveChanVals();
    void SaveTopic();
    void LoadTopic();
    void SaveBannlist();
    void LoadChanVals();
    void LoadBannlist();
    void IntChannel(std::string_view ChanName);
    void Send(std::string_view Data, IRCConnection& Sender, bool NotToMe, std::string_view SenderStr = "");

    // Membership is kept on both sides; these change the channel's side only and are
    // called by the connection's join and leave operations.
    void AddUser(IRCConnection* Conn);
    void RemoveUser(IRCConnection* Conn);
    // The member with that nick, or nullptr.
    IRCConnection* FindMember(std::string_view MemberNick) const;
    // State 0, one open channel less, out of the server's name index. Saving is the caller's.
    void CloseChannel();

private:
    std::array<int, 15> ModeFlags{};             // by mode number 1..14; -1 set, 0 unset
    std::array<BanEntry, MaxBans + 1> BanList{}; // slots 1..64
    int BanCount = 0;
    std::string ModeBufModes;
    std::string ModeBufParams;
    int ModeBufCount = 0;
    bool ModeBufDenied = false;
    std::string ModeBufBadModes;
};
