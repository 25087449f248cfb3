#include "server/channels/IRCChannel.h"

#include "server/core/IRCServer.h"
#include "server/irc/IRCConnection.h"

#include <algorithm>

int IRCChannel::GetMode(int MType) const
{
    if (MType < 1 || MType > 14) return 0;
    return ModeFlags[static_cast<std::size_t>(MType)];
}

void IRCChannel::IntChannel(std::string_view ChanName)
{
    State = 1;
    BanList = {};
    ModeFlags = {};
    ModeBufCount = 0;
    ModeBufModes.clear();
    ModeBufParams.clear();
    ModeKStr.clear();
    ModeBufBadModes.clear();
    Owner.clear();
    Topic.clear();
    ModeBufDenied = false;
    BanCount = 0;
    WriteStat = false;
    FoundDate = Now();
    Name = std::string(ChanName);
    ++bindServer->ChanCount;
    bindServer->IndexChannel(*this);
}

void IRCChannel::Send(std::string_view Data, IRCConnection& Sender, bool NotToMe, std::string_view SenderStr)
{
    // The line is the same for every member: build it once. Copy the member list first: a
    // member whose send buffer overflows is closed inside SendLine and leaves Users.
    std::string line;
    line.reserve(Data.size() + 64);
    line.append(":")
        .append(SenderStr.empty() ? Sender.uID(0) : std::string(SenderStr))
        .append(" ")
        .append(Data);
    const std::vector<IRCConnection*> members = Users;
    for (IRCConnection* member : members) {
        if (member->State <= 0) continue;
        if (NotToMe && member == &Sender) continue;
        member->SendLine(line);
    }
}

void IRCChannel::AddUser(IRCConnection* Conn)
{
    Users.push_back(Conn);
}

void IRCChannel::RemoveUser(IRCConnection* Conn)
{
    const auto found = std::find(Users.begin(), Users.end(), Conn);
    if (found != Users.end()) Users.erase(found);
}

IRCConnection* IRCChannel::FindMember(std::string_view MemberNick) const
{
    // Nicks are unique among registered users, so the nick index finds the one member a walk of
    // Users would find, without a cost that grows with the channel.
    IRCConnection* conn = bindServer->FindConnByNick(MemberNick, ConnState::Registered);
    if (conn == nullptr || conn->FindChannelSlot(*this) < 0) return nullptr;
    return conn;
}

void IRCChannel::CloseChannel()
{
    if (State == 0) return;
    bindServer->UnindexChannel(*this);
    State = 0;
    --bindServer->ChanCount;
}
