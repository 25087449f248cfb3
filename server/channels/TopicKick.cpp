// TOPIC and KICK.

#include "server/channels/IRCChannel.h"
#include "server/channels/Ranks.h"
#include "server/core/Langw.h"
#include "server/core/Masks.h"
#include "server/core/TextIds.h"
#include "server/irc/IRCConnection.h"
#include "server/irc/Numerics.h"

void IRCConnection::TopicCommand(std::string_view ChanName, std::string_view Topic)
{
    const int index = FindChannelSlot(ChanName);
    if (index < 0) {
        SendSM(ERR_NOSUCHCHANNEL, GetLangText(TextNotOnChannel, Language), ChanName, "");
        return;
    }
    IRCChannel& chan = *ChannelSlots[index].Channel;
    // An empty text asks; so a topic can be replaced but never cleared.
    if (Topic.empty()) {
        SendSM(RPL_TOPIC, chan.Topic, chan.Name, "");
        return;
    }
    if (chan.GetMode(ChanMode::TopicLock) != 0 && !CheckRang(chan, Skill::Topic, false)) {
        SendSM(ERR_CHANOPRIVSNEEDED, GetLangText(TextNoChannelRights, Language), chan.Name, "");
        return;
    }
    chan.Topic = CleanText(Topic, 31, ' ');
    const std::string setter = Nick;
    chan.Send("TOPIC " + chan.Name + " :" + chan.Topic, *this, false);
    chan.TopicDate = Now();
    chan.TopicSeter = setter;
    chan.SaveTopic();
}

// No ranks are compared: whoever may kick may kick anyone, the owner and himself included.
void IRCConnection::KickCommand(std::string_view ChanName, std::string_view KickNick, std::string_view Reason)
{
    const int index = FindChannelSlot(ChanName);
    if (index < 0) {
        SendSM(ERR_NOSUCHCHANNEL, GetLangText(TextNotOnChannel, Language), ChanName, "");
        return;
    }
    IRCChannel& chan = *ChannelSlots[index].Channel;
    if (!CheckRang(chan, Skill::Kick, false)) {
        SendSM(ERR_CHANOPRIVSNEEDED, GetLangText(TextNoChannelRights, Language), ChanName, "");
        return;
    }
    IRCConnection* kicked = chan.FindMember(KickNick);
    if (kicked == nullptr) {
        SendSM(ERR_NOSUCHNICK, GetLangText(TextNoSuchNick, Language), KickNick, "");
        return;
    }
    // The kicked member gets the line before he leaves, so his client sees why.
    const std::string chanName(ChanName);
    chan.Send("KICK " + chanName + " " + std::string(KickNick) + " :" +
                  (Reason.empty() ? Nick : std::string(Reason)),
              *this, false);
    kicked->KickMe(chanName);
}

// Unlike PART, a kick never closes the channel: it stays open, modes and topic kept, until
// somebody joins and leaves it again.
void IRCConnection::KickMe(std::string_view ChanName)
{
    const int index = FindChannelSlot(ChanName);
    if (index < 0) return;
    LeaveChannelSlot(index, false);
}
