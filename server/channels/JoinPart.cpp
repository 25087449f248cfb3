// JOIN, PART, NAMES and LIST.

#include "server/channels/IRCChannel.h"
#include "server/core/IRCServer.h"
#include "server/core/Langw.h"
#include "server/core/Masks.h"
#include "server/core/TextIds.h"
#include "server/irc/IRCConnection.h"
#include "server/irc/Numerics.h"
#include "server/support/DateTexts.h"

#include "common/Text.h"

namespace
{

constexpr std::size_t MaxChannelNameLength = 31;
constexpr std::size_t MaxNamesLineLength = 512;

bool ValidChannelName(std::string_view ChanName)
{
    return !ChanName.empty() && (ChanName[0] == '#' || ChanName[0] == '&') &&
           ChanName.size() <= MaxChannelNameLength;
}

// A closed channel object is reused before the collection grows, so pointers stay valid.
IRCChannel& TakeFreeChannel(IRCServer& Server)
{
    for (auto& chan : Server.ircChannels)
        if (chan->State == 0) return *chan;
    return *Server.ircChannels.emplace_back(std::make_unique<IRCChannel>());
}

} // namespace

void IRCConnection::JoinChannel(std::string_view ChanName, std::string_view Key)
{
    IRCServer& server = *bindServer;
    bool haveFreeSlot = false;
    for (const ChannelSlot& slot : ChannelSlots) {
        if (!slot.InUse) {
            haveFreeSlot = true;
            continue;
        }
        if (slot.Channel != nullptr && EqualsNoCase(slot.Channel->Name, ChanName)) return; // already in
    }
    if (!haveFreeSlot) {
        SendSM(ERR_TOOMANYCHANNELS, GetLangText(TextTooManyChannels, Language), "", "");
        return;
    }
    if (!ValidChannelName(ChanName)) {
        SendSM(ERR_NOSUCHCHANNEL, GetLangText(TextBadChannelName, Language), ChanName, "");
        return;
    }

    IRCChannel* chan = server.FindOpenChannel(ChanName);
    if (chan == nullptr) {
        chan = &TakeFreeChannel(server);
        chan->bindServer = &server;
        chan->IntChannel(ChanName);
        chan->LoadChanVals();
    }

    // The owner passes every test; there is no invitation list, so mode i keeps out everyone else.
    const bool owner = !chan->Owner.empty() && EqualsNoCase(chan->Owner, IdentNick);
    if (!owner) {
        bool refused = true;
        if (chan->GetMode(ChanMode::Key) != 0 && chan->ModeKStr != Key)
            SendSM(ERR_BADCHANNELKEY, GetLangText(TextCannotJoin, Language), "+k", ChanName);
        else if (chan->GetMode(ChanMode::InviteOnly) != 0)
            SendSM(ERR_INVITEONLYCHAN, GetLangText(TextCannotJoin, Language), "+i", ChanName);
        else if (chan->IsBanned(*this))
            SendSM(ERR_BANNEDFROMCHAN, GetLangText(TextCannotJoin, Language), "+b", ChanName);
        else
            refused = false;
        if (refused) {
            // An object opened only for this attempt leaves no trace; nothing is saved.
            if (chan->Users.empty()) chan->CloseChannel();
            return;
        }
    }

    const int index = EnterChannel(*chan);
    if (index < 0) return;
    chan->Send("JOIN :" + chan->Name, *this, false);
    if (State != ConnState::Registered) return; // our own send buffer overflowed
    if (!chan->Topic.empty()) {
        SendSM(RPL_TOPIC, chan->Topic, chan->Name, "");
        SendSM(RPL_TOPICWHOTIME, "", chan->Name,
               chan->TopicSeter + " " + std::to_string(UnixTime(chan->TopicDate)));
    } else {
        SendSM(RPL_NOTOPIC, GetLangText(TextNoTopic, Language), chan->Name, "");
    }
    if (State != ConnState::Registered) return;
    // The first user of an unregistered channel runs it. He is alone, so nobody needs to be told;
    // his "@" shows in the NAMES reply below.
    if (chan->Owner.empty() && chan->Users.size() == 1) SetUserMode("o", false, chan->Name);
    LoadUChanVals(index);
    SendNames(index, false);
    if (State != ConnState::Registered) return;

    // The others learn the newcomer's statuses from the channel; the newcomer saw them in NAMES.
    const ChannelSlot& slot = ChannelSlots[index];
    const std::string chanName = chan->Name;
    if (slot.StatusV) chan->AddToModeBuffer(*this, "v", false, Nick, chanName, true);
    if (chan->GetMode(ChanMode::HideStatus) == 0) {
        if (slot.StatusH) chan->AddToModeBuffer(*this, "h", false, Nick, chanName, true);
        if (slot.StatusO) chan->AddToModeBuffer(*this, "o", false, Nick, chanName, true);
        if (slot.StatusA) chan->AddToModeBuffer(*this, "a", false, Nick, chanName, true);
        if (slot.StatusQ) chan->AddToModeBuffer(*this, "q", false, Nick, chanName, true);
    }
    chan->SendModeBuffer(*this, chanName, true);

    if (AwayChanm && GlobChanMState == ChanMState::Busy)
        chan->Send("MODE " + chanName + " +x " + Nick, *this, true);
    if (AwayChanm && GlobChanMState == ChanMState::Away)
        chan->Send("MODE " + chanName + " +y " + Nick, *this, true);
}

void IRCConnection::PartChannel(std::string_view ChanName)
{
    const int index = FindChannelSlot(ChanName);
    if (index < 0) {
        SendSM(ERR_NOSUCHCHANNEL, GetLangText(TextNotOnChannel, Language), ChanName, "");
        return;
    }
    ChannelSlots[index].Channel->Send("PART :" + std::string(ChanName), *this, false);
    if (State != ConnState::Registered) return; // closing has taken us out of every channel
    LeaveChannelSlot(index, true);
}

void IRCConnection::SendNames(int ChannelIndex, bool OnlyEnd)
{
    if (ChannelIndex < 0 || ChannelIndex >= MaxChannelSlots) return;
    IRCChannel* chan = ChannelSlots[ChannelIndex].Channel;
    if (chan == nullptr) return;
    // Lines are built first: sending can close this connection, which changes Users.
    std::vector<std::string> lines;
    if (!OnlyEnd) {
        const std::string head = ":" + bindServer->LHName + " 353 " + Nick + " = " + chan->Name + " :";
        std::string line;
        for (const IRCConnection* member : chan->Users) {
            // Never split inside a nick; the limit leaves out the prefixes and the separator.
            if (line.empty() || line.size() + member->Nick.size() > MaxNamesLineLength) {
                if (!line.empty()) lines.push_back(std::move(line));
                line = head + member->GetSignedNick(*chan, *this);
            } else {
                line.append(" ").append(member->GetSignedNick(*chan, *this));
            }
        }
        if (!line.empty()) lines.push_back(std::move(line));
    }
    const std::string chanName = chan->Name;
    for (const std::string& line : lines) {
        SendLine(line);
        if (State != ConnState::Registered) return;
    }
    SendSM(RPL_ENDOFNAMES, GetLangText(TextEndOfNames, Language), chanName, "");
}

namespace
{

bool ListFilterShows(const IRCChannel& Channel, std::string_view Filter)
{
    if (Filter.empty()) return true;
    const double members = static_cast<double>(Channel.Users.size());
    const std::string_view rest = Filter.substr(1);
    switch (Filter[0]) {
    case '>':
        return members > NumericValue(rest);
    case '<':
        return members < NumericValue(rest);
    case '+':
        return FindNoCase(Channel.Name, rest) != std::string_view::npos ||
               FindNoCase(Channel.Topic, rest) != std::string_view::npos;
    default:
        break;
    }
    if (Filter.find('*') != std::string_view::npos) return MatchMask(Filter, Channel.Name);
    return FindNoCase(Channel.Name, Filter) != std::string_view::npos;
}

} // namespace

void IRCConnection::ListChannels(std::string_view Filter)
{
    IRCServer& server = *bindServer;
    SendSM(RPL_LISTSTART, "Users  Name", "Channel", "");
    // By position: closing this connection on a full send buffer may close channels, never erase them.
    for (std::size_t i = 0; i < server.ircChannels.size(); ++i) {
        if (State != ConnState::Registered) return;
        const IRCChannel& chan = *server.ircChannels[i];
        if (chan.State != 1) continue;
        // Secret and private channels are never listed, not even to their members.
        if (chan.GetMode(ChanMode::Secret) != 0 || chan.GetMode(ChanMode::Private) != 0) continue;
        if (!ListFilterShows(chan, Filter)) continue;
        SendSM(RPL_LIST, chan.GetModelist(true) + chan.Topic, chan.Name, std::to_string(chan.Users.size()));
    }
    SendSM(RPL_LISTEND, GetLangText(TextEndOfList, Language), "", "");
}
