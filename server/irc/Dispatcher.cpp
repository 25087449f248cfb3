// The command dispatcher: flood and length limits, tokens, the registration gate and the
// command table, plus the small commands carried out right here.

#include "server/irc/IRCConnection.h"

#include "common/Text.h"
#include "server/core/AppMain.h"
#include "server/core/IRCServer.h"
#include "server/core/Langw.h"
#include "server/core/Masks.h"
#include "server/core/TextIds.h"
#include "server/irc/Numerics.h"
#include "server/services/ServiceRouter.h"

#include <cmath>
#include <unordered_map>

namespace
{

constexpr std::size_t MaxLineLength = 8192;
constexpr int MaxTokens = 128;
constexpr std::int32_t FloodWindowMs = 1500;
constexpr std::int32_t MaxFloodLines = 1024;
constexpr double MaxPingToken = 11534336;

} // namespace

void IRCConnection::ParseLine(std::string_view Line)
{
    IRCServer& server = *bindServer;
    if (server.Logging == 4) WriteLog("<- " + uID(0) + " " + HideSecrets(Line));
    if (server.BreakMode || State == ConnState::Free) return;
    if (!PassFloodLimit()) return;
    if (Line.size() > MaxLineLength) {
        CloseConnection(QuitType::Flooding, "");
        return;
    }
    Out("Recv " + std::string(Line));
    Tokenise(Line);
    Dispatch();
}

// Lines that follow each other within 1.5 s count up; too many in a row is flooding.
bool IRCConnection::PassFloodLimit()
{
    const std::int32_t now = TickCount();
    if (static_cast<std::int64_t>(now) < static_cast<std::int64_t>(LastLineTick) + FloodWindowMs) {
        ++FloodCount;
        const int limit = bindServer->AutoFloodKill;
        if ((limit > 0 && FloodCount > 3 * limit) || FloodCount > MaxFloodLines) {
            CloseConnection(QuitType::Flooding, "");
            return false;
        }
    } else {
        FloodCount = 0;
    }
    LastLineTick = now;
    return true;
}

void IRCConnection::Tokenise(std::string_view Line)
{
    Params.assign(MaxTokens, std::string());
    ParamCount = 0;
    std::size_t pos = 0;
    int index = 0;
    for (;;) {
        if (index >= 1 && pos < Line.size() && Line[pos] == ':') {
            Params[index] = std::string(Line.substr(pos + 1));
            break;
        }
        const std::size_t space = Line.find(' ', pos);
        Params[index] = std::string(
            Line.substr(pos, space == std::string_view::npos ? std::string_view::npos : space - pos));
        if (space == std::string_view::npos || index == MaxTokens - 1) break;
        pos = space + 1;
        ++index;
        if (pos >= Line.size()) break; // a trailing space gives one last empty token
    }
    ParamCount = index;
    for (int i = 0; i <= ParamCount; ++i)
        for (char& c : Params[i])
            if (c >= 4 && c <= 31) c = ' ';
}

std::string IRCConnection::Joined(int FromIndex) const
{
    return JoinTokens(Params, ParamCount, FromIndex);
}

namespace
{

void ToService(IRCConnection& conn, std::string_view Prefix, std::string Text, std::string_view Service)
{
    ServiceCommand(std::string(Prefix) + Text, Service, conn);
}

} // namespace

void IRCConnection::Dispatch()
{
    const std::string word = LowerCase(Params[0]);
    if (State < ConnState::Registered && word != "pass" && word != "user" && word != "nick" &&
        word != "pong" && word != "cap")
        return;
    // Looked up by the lower-cased word; each entry shapes the arguments for its handler.
    using Command = void (*)(IRCConnection&);
    static const std::unordered_map<std::string, Command> commands = {
        {"pass", [](IRCConnection& c) { c.PassCommand(c.Params[1]); }},
        {"user", [](IRCConnection& c) { c.UserCommand(c.Params[1], c.Params[4]); }},
        {"nick", [](IRCConnection& c) { c.NickCommand(c.Params[1]); }},
        {"pong", [](IRCConnection& c) { c.PongCommand(c.Params[1]); }},
        {"cap", [](IRCConnection& c) { c.CapCommand(); }},
        {"list", [](IRCConnection& c) { c.ListChannels(c.Params[1]); }},
        {"join",
         [](IRCConnection& c) {
             const std::string names = c.Params[1];
             const std::string key = c.Params[2];
             std::size_t start = 0;
             for (;;) {
                 const std::size_t comma = names.find(',', start);
                 c.JoinChannel(std::string_view(names).substr(
                                   start, comma == std::string::npos ? std::string::npos : comma - start),
                               key);
                 if (comma == std::string::npos || c.State != ConnState::Registered) break;
                 start = comma + 1;
             }
         }},
        {"ping",
         [](IRCConnection& c) {
             const std::string& name = c.bindServer->LHName;
             c.SendLine(":" + name + " PONG " + name + " :" + c.Params[1]);
         }},
        {"part", [](IRCConnection& c) { c.PartChannel(c.Params[1]); }},
        {"mode", [](IRCConnection& c) { c.ModeCommand(c.Params, c.ParamCount); }},
        {"privmsg", [](IRCConnection& c) { c.SendChatMessage("PRIVMSG", c.Params[1], c.Params[2]); }},
        {"notice", [](IRCConnection& c) { c.SendChatMessage("NOTICE", c.Params[1], c.Params[2]); }},
        {"kick",
         [](IRCConnection& c) { c.KickCommand(c.Params[1], c.Params[2], c.Joined(3).substr(0, 256)); }},
        {"topic", [](IRCConnection& c) { c.TopicCommand(c.Params[1], c.Joined(2).substr(0, 512)); }},
        {"motd", [](IRCConnection& c) { c.SendMotd(); }},
        {"rules", [](IRCConnection& c) { c.SendMotd(); }},
        {"quit", [](IRCConnection& c) { c.CloseConnection(QuitType::Quit, c.Params[1].substr(0, 128)); }},
        {"ns", [](IRCConnection& c) { ToService(c, "", c.Joined(1), "NickServ"); }},
        {"nickserv", [](IRCConnection& c) { ToService(c, "", c.Joined(1), "NickServ"); }},
        {"cs", [](IRCConnection& c) { ToService(c, "", c.Joined(1), "ChanServ"); }},
        {"chanserv", [](IRCConnection& c) { ToService(c, "", c.Joined(1), "ChanServ"); }},
        {"ms", [](IRCConnection& c) { ToService(c, "", c.Joined(1), "MemoServ"); }},
        {"memoserv", [](IRCConnection& c) { ToService(c, "", c.Joined(1), "MemoServ"); }},
        {"os", [](IRCConnection& c) { ToService(c, "", c.Joined(1), "OperServ"); }},
        {"operserv", [](IRCConnection& c) { ToService(c, "", c.Joined(1), "OperServ"); }},
        {"ss", [](IRCConnection& c) { ToService(c, "", c.Joined(1), "StatServ"); }},
        {"statserv", [](IRCConnection& c) { ToService(c, "", c.Joined(1), "StatServ"); }},
        {"reg", [](IRCConnection& c) { ToService(c, "REGISTER ", c.Joined(1), "NickServ"); }},
        {"ident", [](IRCConnection& c) { ToService(c, "IDENTIFY ", c.Joined(1), "NickServ"); }},
        {"regchan", [](IRCConnection& c) { ToService(c, "REGISTER ", c.Joined(1), "ChanServ"); }},
        {"send", [](IRCConnection& c) { ToService(c, "SEND ", c.Joined(1), "MemoServ"); }},
        {"mfg", [](IRCConnection& c) { ToService(c, "SEND ", c.Joined(1), "MemoServ"); }},
        {"recv", [](IRCConnection& c) { ToService(c, "RECV ", c.Joined(1), "MemoServ"); }},
        {"rereg", [](IRCConnection& c) { c.ChangePassword(c.Params[1], c.Params[2]); }},
        {"rehash", [](IRCConnection& c) { ServiceCommand("REHASH", "OperServ", c); }},
        {"clversion",
         [](IRCConnection& c) { ServiceCommand("CLIENTVERSION " + c.Params[1], "StatServ", c); }},
        {"busy", [](IRCConnection& c) { c.SetGlobalChanState(ChanMState::Busy, c.Params[1]); }},
        {"sleep", [](IRCConnection& c) { c.SetGlobalChanState(ChanMState::Away, c.Params[1]); }},
        {"away", [](IRCConnection& c) { c.AwayCommand(); }},
        {"watch",
         [](IRCConnection& c) {
             IRCServer& server = *c.bindServer;
             if (c.ParamCount == 0) {
                 server.GetOnlineWatchList(c);
                 return;
             }
             for (int i = 1; i <= c.ParamCount; ++i) {
                 const std::string token = c.Params[i];
                 if (token.empty()) continue;
                 if (token[0] == '+') server.AddToWatchList(std::string_view(token).substr(1), c);
                 if (token[0] == '-') server.RemFromWatchList(std::string_view(token).substr(1), c);
             }
         }},
        {"language", [](IRCConnection& c) { c.LanguageCommand(); }},
        {"setop", [](IRCConnection& c) { c.SetOp(c.Params[1], c.Params[2]); }},
        {"names", [](IRCConnection& c) { c.NamesCommand(c.Params[1]); }},
        {"myip", [](IRCConnection& c) { c.MyIpCommand(); }},
    };
    const auto found = commands.find(word);
    if (found == commands.end()) {
        SendSM(ERR_UNKNOWNCOMMAND, GetLangText(TextUnknownCommand, Language), Params[0], "");
        return;
    }
    found->second(*this);
}

void IRCConnection::NickCommand(std::string_view NewNickView)
{
    const std::string NewNick(NewNickView); // the handlers below may change Params
    if (!CheckNick(NewNick)) {
        SendSM(ERR_ERRONEUSNICKNAME, GetLangText(TextErroneousNick, Language), NewNick, "");
        return;
    }
    if (!EqualsNoCase(NewNick, Nick) &&
        bindServer->FindConnByNick(NewNick, ConnState::Resolving) != nullptr) {
        OldNick = NewNick;
        SendSM(ERR_NICKNAMEINUSE, GetLangText(TextNickInUse, Language), NewNick, "");
        return;
    }
    if (NewNick != Nick) {
        const bool registered = State == ConnState::Registered;
        if (registered) bindServer->CheckWatchedUser(*this, true);
        if (!Nick.empty()) SendLine(":" + uID(0) + " NICK " + NewNick);
        if (State == ConnState::Free) return;
        if (registered) {
            for (const ChannelSlot& slot : ChannelSlots)
                if (slot.InUse) slot.Channel->Send("NICK :" + NewNick, *this, true);
            CheckIfNickIsREged(NewNick);
        }
        SetNick(NewNick);
        if (registered) bindServer->CheckWatchedUser(*this, false);
    }
    if (RegistrationReady()) SendPing();
}

// Today's clients (irssi, WeeChat, HexChat) open with capability negotiation and some wait for
// its answer before they register. We offer no capabilities: an empty list, and every request
// is declined, which lets them carry on with a plain registration.
void IRCConnection::CapCommand()
{
    const std::string sub = LowerCase(Params[1]);
    const std::string head =
        ":" + bindServer->LHName + " CAP " + (Nick.empty() ? std::string("*") : Nick) + " ";
    if (sub == "ls" || sub == "list") {
        SendLine(head + (sub == "ls" ? "LS" : "LIST") + " :");
    } else if (sub == "req") {
        SendLine(head + "NAK :" + Params[2]);
    }
}

void IRCConnection::PongCommand(std::string_view Token)
{
    if (State < ConnState::Registered) {
        RegistrationPong(Token);
        return;
    }
    const double value = NumericValue(Token);
    if (value >= MaxPingToken || value != PingToken) return;
    Answered = true;
    const double sent = std::floor(std::nearbyint(value) / 100);
    double delay = std::nearbyint(SecondsSinceMidnight() - sent);
    if (delay < 0) delay += 86400;
    PingTime = static_cast<std::int32_t>(delay);
}

void IRCConnection::AwayCommand()
{
    if (!Params[1].empty()) {
        const std::string message = Joined(1);
        SetGlobalChanState(ChanMState::Away, "1");
        AwayMsg = message;
    } else {
        SetGlobalChanState(ChanMState::Away, "0");
    }
}

void IRCConnection::LanguageCommand()
{
    if (ParamCount >= 1) {
        const int found = FindLanguage(Params[1]);
        if (found < 0) return;
        Language = found;
        SendSM(RPL_LANGUAGE, GetLangText(TextLanguageSet, Language, GetLanguageName(found)),
               GetLanguageSign(found), "");
        return;
    }
    SendSM(RPL_LANGUAGE, GetLangText(TextLanguageList, Language, GetLanguageList(true)), "*", "");
}

void IRCConnection::NamesCommand(std::string_view ChanName)
{
    for (int slot = 0; slot < MaxChannelSlots; ++slot) {
        const ChannelSlot& entry = ChannelSlots[slot];
        if (!entry.InUse || !EqualsNoCase(entry.Channel->Name, ChanName)) continue;
        SendNames(slot, entry.Channel->GetMode(ChanMode::Secret) != 0);
        return;
    }
    SendSM(ERR_NOSUCHCHANNEL, GetLangText(TextNotOnChannel, Language), ChanName, "");
}

void IRCConnection::MyIpCommand()
{
    SendServiceNotice("OperServ", HostIP, *this);
}
