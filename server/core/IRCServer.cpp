#include "server/core/IRCServer.h"

#include "common/Text.h"
#include "net/DnsRevRes.h"
#include "net/SocketModule.h"
#include "server/channels/IRCChannel.h"
#include "server/core/AppMain.h"
#include "server/core/Langw.h"
#include "server/irc/IRCConnection.h"
#include "server/support/DateTexts.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr const char* DataBaseName = "KorvaneIRCD.kdb";

// A boolean setting: empty gives the default, otherwise the text read as a boolean
// ("0", "False" are false; "True" or any other number is true).
bool SettingFlag(const std::string& Text, bool Default)
{
    if (Text.empty()) return Default;
    if (EqualsNoCase(Text, "true")) return true;
    if (EqualsNoCase(Text, "false")) return false;
    return NumericValue(Text) != 0;
}

int SettingInt(const std::string& Text)
{
    const long long value = WholeValue(Text);
    return static_cast<int>(std::clamp<long long>(value, -32768, 32767));
}

std::string UpperHex(std::uint32_t Value)
{
    static const char digits[] = "0123456789ABCDEF";
    if (Value == 0) return "0";
    std::string text;
    while (Value != 0) {
        text.insert(text.begin(), digits[Value & 15]);
        Value >>= 4;
    }
    return text;
}

// The login key makes whoever knows it an administrator, so it comes from the operating
// system's secure random source, never from a generator seeded with the time.
std::uint32_t SecureRandom24()
{
    std::uint32_t value = 0;
    if (getrandom(&value, sizeof(value), 0) != static_cast<ssize_t>(sizeof(value))) {
        // getrandom cannot fail for four bytes once the pool is ready; fall back to urandom.
        const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            if (read(fd, &value, sizeof(value)) != static_cast<ssize_t>(sizeof(value))) value = 0;
            close(fd);
        }
    }
    return value & 0xFFFFFF;
}

} // namespace

IRCServer::IRCServer()
{
    StartLookupService();
    ServerVersion = KORV_VERSION;
    RefreshFromFile();
    DBase.LogError = [](const std::string& line) { WriteLog(line); };
    if (!DBase.OpenDataBase(AppPath + DataBaseName)) {
        DataBaseLocked = DBase.LastOpenFailure == OpenFailure::InUse;
        if (!DataBaseLocked) {
            // The server still runs, with default settings, as it would on a first start.
            const std::string reason =
                "ERROR OpenDataBase " + AppPath + DataBaseName + " " + DBase.OpenFailureText;
            WriteLog(reason);
            std::fprintf(stderr, "%s\n", reason.c_str());
        }
    }
    NetWorkName = "Korvane";
    CloseChanIfEmpty = true;
    GetClientVersion = true;
    StartDate = Now();
    ReadSettings();
    ircSock.OnConnectionRequest = [this] { ircSock_ConnectionRequest(); };
    SmtpClient.OnError = [this](const std::string&) { SmtpClient_Error(); };
}

IRCServer::~IRCServer()
{
    Shutdown();
}

void IRCServer::ReadSettings()
{
    const auto slot = [this](int Index) {
        return DBase.State == 1 ? DBase.GetGlobalVal(Index) : std::string();
    };
    Date date = 0;
    if (ReadStoredDate(slot(GlobalSlot::InstDate), date)) {
        InstDate = date;
    } else {
        InstDate = Now();
        if (DBase.State == 1) DBase.SetGlobalVal(GlobalSlot::InstDate, StoredDateText(InstDate));
    }
    ServerPassword = slot(GlobalSlot::ServerPassword);
    ConnectCount = NumericValue(slot(GlobalSlot::ConnectCount));
    MaxUserCount = SettingInt(slot(GlobalSlot::MaxUserCount));
    if (ReadStoredDate(slot(GlobalSlot::MaxUserDate), date)) MaxUserDate = date;
    const std::string network = slot(GlobalSlot::NetWorkName);
    if (!network.empty()) NetWorkName = network;
    LHName = slot(GlobalSlot::LHName);
    LocalIrcPort = static_cast<std::int32_t>(
        std::clamp<long long>(WholeValue(slot(GlobalSlot::LocalIrcPort)), 0, 65535));
    DefoultLang = slot(GlobalSlot::DefoultLang);
    Logging = std::clamp(SettingInt(slot(GlobalSlot::Logging)), 0, 4);
    SmtpClient.Server = slot(GlobalSlot::SmtpServer);
    SmtpClient.FromAdress = slot(GlobalSlot::FromAdress);
    AutoFloodKill = SettingInt(slot(GlobalSlot::AutoFloodKill));
    MaxAlowedClones = SettingInt(slot(GlobalSlot::MaxAlowedClones));
    StatWriteCount = SettingInt(slot(GlobalSlot::StatWriteCount));
    EveryDayStat = NumericValue(slot(GlobalSlot::EveryDayStat)) != 0;
    PingInterval = SettingInt(slot(GlobalSlot::PingInterval));
    if (PingInterval == 0) PingInterval = 180;
    CloseChanIfEmpty = SettingFlag(slot(GlobalSlot::CloseChanIfEmpty), true);
    GetClientVersion = SettingFlag(slot(GlobalSlot::GetClientVersion), true);
    AwayChanmode = SettingFlag(slot(GlobalSlot::AwayChanmode), true);
    if (DBase.State == 1) DBase.Sync();
}

void IRCServer::Start()
{
    if (ircSock.State > SockState::Listening - 1) {
        for (std::size_t i = 0; i < ircConns.size(); ++i) {
            IRCConnection& conn = *ircConns[i];
            if (conn.State == ConnState::Registered) conn.CloseConnection(QuitType::Error, "Port change");
        }
        ircSock.Disconnect();
    }
    if (LocalIrcPort == 0) LocalIrcPort = 6667;
    ircSock.LocalAddress = ListenAddress;
    for (std::int32_t port = LocalIrcPort; port <= LocalIrcPort + 10; ++port) {
        ircSock.LocalPort = port;
        ircSock.Listen();
        if (ircSock.State == SockState::Listening) {
            if (LHName.empty()) LHName = GetLocalHostName();
            LocalIrcPort = port;
            break;
        }
    }
    GlobalKey = UpperHex(SecureRandom24()) + UpperHex(SecureRandom24());
    ReGenerateLoginFile();
}

void IRCServer::ReGenerateLoginFile()
{
    const std::string text = GetLocalHostName() + "\r\n" + std::to_string(LocalIrcPort) + "\r\n" + GlobalKey +
                             "\r\n" + ServerPassword + "\r\n";
    const std::string path = AppPath + "Login.dat";
    // The file carries the login key: only the server's own user may read it.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        WriteLog("ERROR ReGenerateLoginFile " + path + " " + std::strerror(errno));
        return;
    }
    if (fchmod(fd, 0600) != 0)
        WriteLog("ERROR ReGenerateLoginFile chmod " + std::string(std::strerror(errno)));
    std::string_view rest = text;
    while (!rest.empty()) {
        const ssize_t written = write(fd, rest.data(), rest.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            WriteLog("ERROR ReGenerateLoginFile " + path + " " + std::strerror(errno));
            break;
        }
        rest.remove_prefix(static_cast<std::size_t>(written));
    }
    close(fd);
}

void IRCServer::RefreshFromFile()
{
    LoadLanguages(AppPath);
    LoadRankValues(AppPath + "Rank.cfg");
    LoadMotd(AppPath);
}

void IRCServer::LoadMotd(const std::string& Path)
{
    std::ifstream file(Path + "MOTD.txt", std::ios::binary);
    if (!file) return;
    std::ostringstream text;
    text << file.rdbuf();
    MotdBuffer = text.str();
}

std::string IRCServer::IsOnline(std::string_view User) const
{
    // Nick first through the index; the identified nick of a connection is rarer and needs a walk
    // only when nobody uses the name as a nick, keeping "first in collection order" for both.
    IRCConnection* byNick = FindConnByNick(User, ConnState::Registered);
    for (const auto& conn : ircConns) {
        if (byNick != nullptr && conn.get() == byNick) return byNick->Nick;
        if (conn->State == ConnState::Registered && EqualsNoCase(conn->IdentNick, User)) return conn->Nick;
    }
    return "";
}

std::string IRCServer::GetCVersion(std::string_view User) const
{
    const IRCConnection* conn = FindConnByNick(User, ConnState::Registered);
    return conn != nullptr ? conn->ClinentVStr : std::string();
}

IRCChannel* IRCServer::GetChannel(std::string_view Channel) const
{
    if (IRCChannel* open = FindOpenChannel(Channel); open != nullptr) {
        // An open channel is the answer unless a closed object with the same name stands before it.
        for (const auto& chan : ircChannels) {
            if (chan.get() == open) return open;
            if (EqualsNoCase(chan->Name, Channel)) return chan.get();
        }
    }
    for (const auto& chan : ircChannels)
        if (EqualsNoCase(chan->Name, Channel)) return chan.get();
    return nullptr;
}

void IRCServer::SendGlobalMsg(std::string_view Text, IRCConnection* Recver)
{
    if (Recver != nullptr) return;
    const std::string head = ":Global!services@" + LHName + " NOTICE ";
    for (std::size_t i = 0; i < ircConns.size(); ++i) {
        IRCConnection& conn = *ircConns[i];
        if (conn.State != ConnState::Registered) continue;
        conn.SendLine(head + conn.Nick + " :" + std::string(Text));
    }
}

IRCConnection& IRCServer::TakeFreeConnection()
{
    for (auto& conn : ircConns)
        if (conn->State == ConnState::Free) return *conn;
    auto& added = ircConns.emplace_back(std::make_unique<IRCConnection>());
    added->ConnIndex = ircConns.size() - 1;
    return *added;
}

void IRCServer::ircSock_ConnectionRequest()
{
    if (BreakMode) return;
    IRCConnection& conn = TakeFreeConnection();
    conn.bindServer = this;
    conn.Accept(ircSock);
    if (ConCount == 1) KeepAliveTick(true);
}

void IRCServer::TimerEvent(int TimerID)
{
    if (TimerID == 1) KeepAliveTick(false);
}

void IRCServer::SaveConnectCount()
{
    if (DBase.State != 1) return;
    std::ostringstream text;
    text.precision(15);
    text << ConnectCount;
    DBase.SetGlobalVal(GlobalSlot::ConnectCount, text.str());
    DBase.Sync();
}

// Visits one connection per tick, so a thousand users cost the same per tick as ten.
void IRCServer::KeepAliveTick(bool Restart)
{
    const double t = SecondsSinceMidnight();
    if (t + 3600 < LastTickSecond) SaveConnectCount(); // a new day has begun
    LastTickSecond = static_cast<std::int32_t>(t + 0.5);
    if (ConCount == 0) return;
    std::int64_t interval = static_cast<std::int64_t>(PingInterval) * 1000 / ConCount;
    if (interval < 10) interval = 10;
    if (!Restart) {
        ++PingWaitTicks;
        if (PingWaitTicks > interval / 30000) {
            PingWaitTicks = 0;
            int restarts = 0;
            const int count = static_cast<int>(ircConns.size());
            while (count > 0) {
                ++PingRoundIndex;
                if (PingRoundIndex > count) {
                    PingRoundIndex = 1;
                    if (++restarts >= 3) break;
                }
                IRCConnection& conn = *ircConns[static_cast<std::size_t>(PingRoundIndex - 1)];
                if (conn.State > ConnState::Free) {
                    conn.TimerInterval();
                    break;
                }
            }
        }
    }
    StartTimer(this, static_cast<long>(std::min<std::int64_t>(interval, 30000)), 1);
}

void IRCServer::Shutdown()
{
    if (ShutDown) return;
    ShutDown = true;
    if (ircSock.State > SockState::Closed) ircSock.Disconnect();
    StopTimer(1, this);
    for (auto& conn : ircConns)
        conn->CloseConnection(QuitType::Destroyed, "");
    SaveConnectCount();
    if (DBase.State == 1) DBase.CloseDataBase();
    ReleaseLookupService();
}

// ---- Indexes -------------------------------------------------------------------------------

IRCConnection* IRCServer::FindConnByNick(std::string_view WhoNick, int MinState) const
{
    const auto found = NickIndex.find(LowerCase(WhoNick));
    if (found == NickIndex.end()) return nullptr;
    for (IRCConnection* conn : found->second)
        if (conn->State >= MinState && EqualsNoCase(conn->Nick, WhoNick)) return conn;
    return nullptr;
}

void IRCServer::IndexNick(IRCConnection& Conn, std::string_view OldNick)
{
    if (!OldNick.empty()) {
        const auto old = NickIndex.find(LowerCase(OldNick));
        if (old != NickIndex.end()) {
            std::erase(old->second, &Conn);
            if (old->second.empty()) NickIndex.erase(old);
        }
    }
    if (Conn.Nick.empty()) return;
    std::vector<IRCConnection*>& holders = NickIndex[LowerCase(Conn.Nick)];
    // Kept in collection order, so the first holder is the one a walk of ircConns finds first.
    const auto at = std::lower_bound(
        holders.begin(), holders.end(), &Conn,
        [](const IRCConnection* a, const IRCConnection* b) { return a->ConnIndex < b->ConnIndex; });
    if (at == holders.end() || *at != &Conn) holders.insert(at, &Conn);
}

void IRCServer::UnindexNick(IRCConnection& Conn)
{
    const auto found = NickIndex.find(LowerCase(Conn.Nick));
    if (found == NickIndex.end()) return;
    std::erase(found->second, &Conn);
    if (found->second.empty()) NickIndex.erase(found);
}

IRCChannel* IRCServer::FindOpenChannel(std::string_view Name) const
{
    const auto found = ChannelIndex.find(LowerCase(Name));
    return found == ChannelIndex.end() ? nullptr : found->second;
}

void IRCServer::IndexChannel(IRCChannel& Channel)
{
    ChannelIndex.emplace(LowerCase(Channel.Name), &Channel);
}

void IRCServer::UnindexChannel(IRCChannel& Channel)
{
    const auto found = ChannelIndex.find(LowerCase(Channel.Name));
    if (found != ChannelIndex.end() && found->second == &Channel) ChannelIndex.erase(found);
}
