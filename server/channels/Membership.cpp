// Membership: the connection's 32 channel slots and the channel's Users, kept in step, and the
// status characters that show a member's standing.

#include "server/channels/IRCChannel.h"
#include "server/core/IRCServer.h"
#include "server/irc/IRCConnection.h"

#include "common/Text.h"

int IRCConnection::EnterChannel(IRCChannel& Channel)
{
    for (int index = 0; index < MaxChannelSlots; ++index) {
        ChannelSlot& slot = ChannelSlots[index];
        if (slot.InUse) continue;
        // A fresh slot: statuses and statistics counts belong to one membership only.
        slot = ChannelSlot{};
        slot.Channel = &Channel;
        slot.InUse = true;
        Channel.AddUser(this);
        return index;
    }
    return -1;
}

void IRCConnection::LeaveChannelSlot(int ChannelIndex, bool MayClose)
{
    if (ChannelIndex < 0 || ChannelIndex >= MaxChannelSlots) return;
    ChannelSlot& slot = ChannelSlots[ChannelIndex];
    if (!slot.InUse || slot.Channel == nullptr) return;
    IRCChannel& chan = *slot.Channel;
    chan.RemoveUser(this);
    if (MayClose && chan.Users.empty() && bindServer->CloseChanIfEmpty) {
        chan.SaveChanVals();
        chan.CloseChannel();
    }
    SaveUChanVals(ChannelIndex); // reads the slot: statuses and pending statistics
    slot = ChannelSlot{};
}

int IRCConnection::FindChannelSlot(std::string_view ChanName) const
{
    for (int index = 0; index < MaxChannelSlots; ++index) {
        const ChannelSlot& slot = ChannelSlots[index];
        if (slot.InUse && slot.Channel != nullptr && EqualsNoCase(slot.Channel->Name, ChanName)) return index;
    }
    return -1;
}

int IRCConnection::FindChannelSlot(const IRCChannel& Channel) const
{
    for (int index = 0; index < MaxChannelSlots; ++index)
        if (ChannelSlots[index].InUse && ChannelSlots[index].Channel == &Channel) return index;
    return -1;
}

IRCChannel* IRCConnection::GetChannel(std::string_view ChanName) const
{
    const int index = FindChannelSlot(ChanName);
    return index < 0 ? nullptr : ChannelSlots[index].Channel;
}

namespace
{

// The one character of the highest status; WHO and WHOIS show no more than that.
std::string HighestStatusChar(const ChannelSlot& Slot)
{
    if (Slot.StatusQ) return "*";
    if (Slot.StatusA) return "!";
    if (Slot.StatusO) return "@";
    if (Slot.StatusH) return "%";
    if (Slot.StatusV) return "+";
    return "";
}

} // namespace

std::string IRCConnection::GetHModeCHar(std::string_view ChanName) const
{
    const int index = FindChannelSlot(ChanName);
    return index < 0 ? std::string() : HighestStatusChar(ChannelSlots[index]);
}

std::string IRCConnection::GetChannelListString(bool SelfList) const
{
    std::string list;
    for (const ChannelSlot& slot : ChannelSlots) {
        if (!slot.InUse || slot.Channel == nullptr) continue;
        if (!SelfList && slot.Channel->GetMode(ChanMode::Secret) != 0) continue;
        list.append(HighestStatusChar(slot)).append(slot.Channel->Name).append(" ");
    }
    return std::string(TrimSpaces(list));
}

std::string IRCConnection::GetSignedNick(const IRCChannel& Channel, const IRCConnection& ReqConn) const
{
    const int index = FindChannelSlot(Channel);
    if (index < 0) return Nick;
    const ChannelSlot& slot = ChannelSlots[index];
    std::string signedNick;
    if (GlobChanMState == ChanMState::Away) signedNick += '~';
    if (GlobChanMState == ChanMState::Busy) signedNick += '&';
    // With mode j others see only voice among the statuses; the member himself sees them all.
    const bool showAll = &ReqConn == this || Channel.GetMode(ChanMode::HideStatus) == 0;
    if (showAll) {
        if (slot.StatusQ) signedNick += '*';
        if (slot.StatusA) signedNick += '!';
        if (slot.StatusO) signedNick += '@';
        if (slot.StatusH) signedNick += '%';
    }
    if (slot.StatusV) signedNick += '+';
    return signedNick + Nick;
}
