// Registration: PASS, USER, the registration PING and PONG, the welcome burst and the message
// of the day; the nick rules and the forced rename.

#include "server/irc/IRCConnection.h"

#include "common/Text.h"
#include "server/core/AppMain.h"
#include "server/core/IRCServer.h"
#include "server/core/Langw.h"
#include "server/core/TextIds.h"
#include "server/irc/Numerics.h"
#include "server/support/DateTexts.h"

#include <random>

namespace
{

// Guest numbers need no secrecy, only spread.
std::mt19937& GuestRandom()
{
    static std::mt19937 generator{std::random_device{}()};
    return generator;
}

constexpr std::string_view ForbiddenNickChars = "@+*#!%&$/<>~?.:\xB0\xA7\x80";
constexpr std::string_view ReservedNicks[] = {"nickserv", "statserv", "memoserv", "memserv",
                                              "chanserv", "secure",   "operserv", "global"};
// Registration PING tokens are centiseconds since midnight; larger answers are not ours.
constexpr double MaxPingToken = 11534336;

} // namespace

bool IRCConnection::RegistrationReady() const
{
    return !Nick.empty() && !UserID.empty() && State == ConnState::HostKnown && PassOK;
}

void IRCConnection::PassCommand(std::string_view Password)
{
    if (PassOK) return;
    if (Password == bindServer->ServerPassword) {
        PassOK = true;
        if (RegistrationReady()) SendPing();
        return;
    }
    SendLine("NOTICE AUTH :*** " + GetLangText(TextWrongServerPassword, Language));
    CloseConnection(QuitType::Error, "");
}

void IRCConnection::UserCommand(std::string_view User, std::string_view Real)
{
    if (State == ConnState::Registered) return;
    UserID = std::string(User);
    RealName = std::string(Real);
    if (RegistrationReady()) SendPing();
    if (!PassOK) SendLine("NOTICE AUTH :*** " + GetLangText(TextPasswordRequired, Language));
}

void IRCConnection::RegistrationPong(std::string_view Token)
{
    const double value = NumericValue(Token);
    if (value >= MaxPingToken || value != PingToken) return;
    const bool ready = RegistrationReady();
    bindServer->ConnectCount += 1;
    if (ready) SendWelcome();
}

void IRCConnection::SendWelcome()
{
    IRCServer& server = *bindServer;
    Out("Wellcome");
    if (server.IsGLined(*this)) {
        CloseConnection(QuitType::GLined, "");
        return;
    }
    AwayChanm = server.AwayChanmode;
    server.CheckWatchedUser(*this, false);
    State = ConnState::Registered;
    SendSM(RPL_WELCOME, GetLangText(TextWelcome, Language, Nick + "!" + UserID + "@" + Hostname), "", "");
    SendSM(RPL_YOURHOST, GetLangText(TextYourHost, Language, server.LHName, server.ServerVersion), "", "");
    SendSM(RPL_CREATED, GetLangText(TextCreated, Language, DateText(server.InstDate)), "", "");
    SendSM(RPL_MYINFO, "",
           server.LHName + " " + server.ServerVersion + " * b" + (AwayChanm ? "yx" : "") + "qaohv", "");
    std::string languages = "ELIST=MUT LANGUAGE=" + std::to_string(LangCount);
    for (int i = 0; i < LangCount; ++i)
        languages += "," + GetLanguageSign(i);
    languages += " MAXCHANNELS=32 MAXBANS=64 NICKLEN=30 TOPICLEN=512 KICKLEN=256 MAXTARGETS=1 AWAYLEN=32";
    SendSM(RPL_ISUPPORT, GetLangText(TextSupported, Language), languages, "");
    SendSM(RPL_ISUPPORT, GetLangText(TextSupported, Language),
           std::string("WATCH=120 MODES=8 CHANTYPES=#& PREFIX=(") + (AwayChanm ? "yx" : "") + "qaohv)" +
               (AwayChanm ? "~&" : "") + "*!@%+ CHANMODES=b,k,psnim NETWORK=" + server.NetWorkName +
               " CASEMAPPING=ascii",
           "");
    if (State != ConnState::Registered) return; // the burst overflowed the send buffer
    SendSM(RPL_LUSERCLIENT, GetLangText(TextUsersOnline, Language, std::to_string(server.ConCount)), "", "");
    SendSM(RPL_LUSERCHANNELS, GetLangText(TextChannelsFormed, Language, "0"),
           std::to_string(server.ChanCount), "");
    SendMotd();
    if (State != ConnState::Registered) return;
    SendLine(":" + Nick + " MODE " + Nick + " +" + UserModes());
    if (server.GetClientVersion)
        SendLine(":StatServ!Services@" + server.LHName + " PRIVMSG " + Nick + " :\x01VERSION\x01");
    CheckIfNickIsREged(Nick);
    if (server.Logging > 0) WriteLog(uID(0) + " CONNECT " + HostIP);
}

void IRCConnection::SendMotd()
{
    const IRCServer& server = *bindServer;
    const std::string head = ":" + server.LHName + " ";
    if (server.MotdBuffer.empty()) {
        SendLine(head + "422 " + Nick + " :" + GetLangText(TextNoMotd, Language));
        return;
    }
    SendLine(head + "375 " + Nick + " :" + GetLangText(TextMotdStart, Language, server.LHName));
    const std::string lineHead = head + "372 " + Nick + " :-";
    std::string_view rest = server.MotdBuffer;
    for (;;) {
        const std::size_t end = rest.find("\r\n");
        SendLine(lineHead + std::string(rest.substr(0, end)));
        if (State == ConnState::Free) return;
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 2);
    }
    SendLine(head + "376 " + Nick + " :" + GetLangText(TextMotdEnd, Language));
}

bool IRCConnection::CheckNick(std::string_view NewNick) const
{
    if (NewNick.empty() || NewNick.size() > 30) return false;
    for (const char c : NewNick) {
        if (static_cast<unsigned char>(c) <= 32) return false;
        if (ForbiddenNickChars.find(c) != std::string_view::npos) return false;
    }
    for (const std::string_view reserved : ReservedNicks)
        if (EqualsNoCase(NewNick, reserved)) return false;
    return !EqualsNoCase(NewNick, bindServer->LHName);
}

void IRCConnection::AutoRename(std::string_view OldName, std::string_view NewGivNick)
{
    std::string newNick(NewGivNick);
    if (newNick.empty()) {
        // A guest text without "%1" would never give a free name: after a bounded number of
        // tries the number is appended to it instead.
        std::uniform_int_distribution<int> number(0, 9999);
        for (int attempt = 0; attempt < 200 && newNick.empty(); ++attempt) {
            std::string candidate =
                GetLangText(TextGuestNick, Language, std::to_string(number(GuestRandom())));
            if (attempt >= 100) candidate += std::to_string(number(GuestRandom()));
            if (!CheckNick(candidate) || EqualsNoCase(candidate, OldName)) continue;
            if (bindServer->FindConnByNick(candidate, ConnState::Resolving) != nullptr) continue;
            newNick = candidate;
        }
        if (newNick.empty())
            newNick = "Guest" + std::to_string(ConnIndex) + "x" + std::to_string(number(GuestRandom()));
    }
    if (!Nick.empty()) SendLine(":" + uID(0) + " NICK " + newNick);
    if (State == ConnState::Free) return;
    for (const ChannelSlot& slot : ChannelSlots)
        if (slot.InUse) slot.Channel->Send("NICK :" + newNick, *this, true);
    SetNick(newNick);
}
