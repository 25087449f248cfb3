#pragma once
// The one server object: settings, the collections of connections and channels, the database,
// the listening socket and the mail client; the keep-alive tick and the login file.

#include "common/Clock.h"
#include "net/CSocket.h"
#include "net/SelfTimer.h"
#include "server/db/GlobalSlots.h"
#include "server/db/KvDataBase.h"
#include "server/support/SmtpClass.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class IRCConnection;
class IRCChannel;

// Ranks and skills of the channel permission model.
constexpr int RankCount = 6;
constexpr int SkillCount = 19;

class IRCServer final : public TimerOwner
{
public:
    IRCServer();
    ~IRCServer();
    IRCServer(const IRCServer&) = delete;
    IRCServer& operator=(const IRCServer&) = delete;

    // Never erased while the server runs: closed objects keep their place and are reused,
    // so pointers to them stay valid.
    std::vector<std::unique_ptr<IRCConnection>> ircConns;
    std::vector<std::unique_ptr<IRCChannel>> ircChannels;
    KvDataBase DBase;
    std::string LHName;
    std::int32_t LocalIrcPort = 0;
    std::string ServerVersion;
    Date InstDate = 0;
    Date StartDate = 0;
    int ConCount = 0;
    int ChanCount = 0;
    std::string ServerPassword;
    std::string NetWorkName = "Korvane";
    bool CloseChanIfEmpty = true;
    bool GetClientVersion = true;
    double ConnectCount = 0;
    std::string DefoultLang;
    int Logging = 0;
    int PingInterval = 180;
    int AutoFloodKill = 0;
    int MaxAlowedClones = 0;
    int StatWriteCount = 0;
    bool EveryDayStat = false;
    int MaxUserCount = 0;
    Date MaxUserDate = 0;
    bool AwayChanmode = true;
    std::string GlobalKey;
    bool BreakMode = false;
    std::string MotdBuffer;
    CSocket ircSock;
    SmtpClass SmtpClient;

    // Address the listener binds; empty means every local address.
    std::string ListenAddress;
    // Another server holds the database of this program directory: this one must not run.
    bool DataBaseLocked = false;

    void Start();
    void ReGenerateLoginFile();
    void RefreshFromFile();
    std::string IsOnline(std::string_view User) const;
    std::string GetCVersion(std::string_view User) const;
    void TimerEvent(int TimerID) override;
    IRCChannel* GetChannel(std::string_view Channel) const;
    void SendGlobalMsg(std::string_view Text, IRCConnection* Recver);

    // Ranks (server/channels/Ranks.cpp)
    std::string LoadRankValues(const std::string& Path);
    std::uint8_t GetRankSkills(int RequComm, int UserMode) const;

    // Seams for the G-line list, the watch list, WHOWAS and the statistics.
    bool IsGLined(const IRCConnection& Conn) const;
    void AddToWatchList(std::string_view WatchNick, IRCConnection& Conn);
    void RemFromWatchList(std::string_view WatchNick, IRCConnection& Conn);
    void CheckWatchedUser(IRCConnection& Conn, bool Offline);
    void GetOnlineWatchList(IRCConnection& Conn);
    void AddToWhoWas(std::string_view WNick, std::string_view WUser, std::string_view WRealName,
                     std::string_view WHost);
    void CountChanStat(std::string_view Text, IRCChannel& Channel);
    // StatServ "list" and "chanstat".
    void ShowServerStat(IRCConnection& IRCConn);
    void SetChanStat(IRCConnection& IRCConn, std::string_view ChanText);

    // Indexes: lower-cased name to object, giving the same answer as a walk of the
    // collection for "the first match" (collection order is kept per name).
    IRCConnection* FindConnByNick(std::string_view WhoNick, int MinState) const;
    void IndexNick(IRCConnection& Conn, std::string_view OldNick);
    void UnindexNick(IRCConnection& Conn);
    IRCChannel* FindOpenChannel(std::string_view Name) const;
    void IndexChannel(IRCChannel& Channel);
    void UnindexChannel(IRCChannel& Channel);

    // Takes a free connection object (or a new one) for a connection waiting on ircSock.
    void ircSock_ConnectionRequest();
    void SmtpClient_Error() {}

    // Program end: every connection closed with quit type -1, counters written, files closed.
    void Shutdown();
    // Writes the connection counter (midnight and at the end).
    void SaveConnectCount();

    // Rank table: skills by rank 1..6 and skill 1..19.
    std::array<std::array<std::uint8_t, SkillCount + 1>, RankCount + 1> RankSkills{};

private:
    void ReadSettings();
    void LoadMotd(const std::string& Path);
    void KeepAliveTick(bool Restart);
    IRCConnection& TakeFreeConnection();

    int PingRoundIndex = 0;
    int PingWaitTicks = 0;
    std::int32_t LastTickSecond = 0;
    bool ShutDown = false;
    std::unordered_map<std::string, std::vector<IRCConnection*>> NickIndex;
    std::unordered_map<std::string, IRCChannel*> ChannelIndex;
};
