// PRIVMSG and NOTICE: the message flood limit, services, channel messages under modes n and m,
// private messages and the memos that stand in for them while the receiver is away.

#include "server/irc/IRCConnection.h"

#include "common/Text.h"
#include "server/channels/Ranks.h"
#include "server/core/AppMain.h"
#include "server/core/IRCServer.h"
#include "server/core/Langw.h"
#include "server/core/TextIds.h"
#include "server/irc/Numerics.h"
#include "server/services/ServiceRouter.h"

#include <exception>

namespace
{

bool IsServiceName(std::string_view Target)
{
    const std::string name = LowerCase(Target);
    return name == "nickserv" || name == "chanserv" || name == "memoserv" || name == "statserv" ||
           name == "operserv";
}

// A step of a message that fails is skipped and the message goes on; the last failure is logged.
template <class F> void Step(std::string& LastError, F&& Work)
{
    try {
        Work();
    } catch (const std::exception& e) {
        LastError = e.what();
    }
}

} // namespace

void IRCConnection::SendChatMessage(std::string_view MType, std::string_view Target, std::string_view Text)
{
    if (Target.empty()) {
        SendSM(ERR_NORECIPIENT, GetLangText(TextNoRecipient, Language, MType), "", "");
        return;
    }
    if (Text.empty()) {
        SendSM(ERR_NOTEXTTOSEND, GetLangText(TextNoTextToSend, Language), "", "");
        return;
    }
    IRCServer& server = *bindServer;
    // Messages that follow each other within two seconds count up; OperServ stays reachable so
    // that an operator can still act while flooding.
    const std::int32_t now = TickCount() / 1000;
    if (server.AutoFloodKill != 0) {
        if (static_cast<std::int64_t>(now) >= static_cast<std::int64_t>(IdleTime) + 2) {
            MessageFloodCount = 0;
        } else if (++MessageFloodCount > server.AutoFloodKill && !EqualsNoCase(Target, "operserv")) {
            CloseConnection(QuitType::Flooding, "");
            return;
        }
    }
    IdleTime = now;

    std::string lastError;
    if (IsServiceName(Target)) {
        Step(lastError, [&] { ServiceCommand(Text, Target, *this); });
    } else if (IRCChannel* chan = server.FindOpenChannel(Target); chan != nullptr) {
        // A channel wins over a user of the same name.
        if (chan->GetMode(ChanMode::NoExternal) != 0 && FindChannelSlot(Target) < 0) {
            SendSM(ERR_CANNOTSENDTOCHAN, GetLangText(TextNoExternalMessages, Language), Target, "");
            return;
        }
        if (chan->GetMode(ChanMode::Moderated) != 0 && !CheckRang(*chan, Skill::Speak, false)) {
            SendSM(ERR_CANNOTSENDTOCHAN, GetLangText(TextModeratedChannel, Language), "+v", Target);
            return;
        }
        const std::string line = std::string(MType) + " " + std::string(Target) + " :" + std::string(Text);
        Step(lastError, [&] { chan->Send(line, *this, true); });
        if (server.Logging == 2 || server.Logging == 3)
            Step(lastError, [&] {
                WriteLog(uID(0) + " " + std::string(MType) + " " + chan->Name + " :" + std::string(Text));
            });
        Step(lastError, [&] { server.CountChanStat(Text, *chan); });
        if (GlobChanMState == ChanMState::Away)
            Step(lastError, [&] { SetGlobalChanState(ChanMState::Away, "0"); });
    } else {
        IRCConnection* receiver = server.FindConnByNick(Target, ConnState::Registered);
        if (receiver == nullptr) {
            SendSM(ERR_NOSUCHNICK, GetLangText(TextNoSuchNick, Language), Target, "");
            return;
        }
        // Writing to someone is being back.
        if (GlobChanMState == ChanMState::Away)
            Step(lastError, [&] { SetGlobalChanState(ChanMState::Away, "0"); });
        if (receiver->GlobChanMState == ChanMState::Away) {
            if (!receiver->AwayMsg.empty()) SendSM(RPL_AWAY, receiver->AwayMsg, receiver->Nick, "");
            // An identified receiver finds the message as a memo; otherwise it is lost.
            if (!receiver->IdentNick.empty()) Step(lastError, [&] { MS_Send(receiver->IdentNick, Text); });
        } else {
            const std::string line = ":" + uID(0) + " " + std::string(MType) + " " + std::string(Target) +
                                     " :" + std::string(Text);
            Step(lastError, [&] { receiver->SendLine(line); });
            if (server.Logging == 3) Step(lastError, [&] { WriteLog(line.substr(1)); });
        }
    }
    if (!lastError.empty()) WriteLog("ERROR SendChatMessage " + lastError);
}
