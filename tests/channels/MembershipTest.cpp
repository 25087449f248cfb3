// Membership on both sides, channel objects reused by State, the owner's admission and the
// status characters, on a server in this process.

#include "server/channels/IRCChannel.h"
#include "server/core/IRCServer.h"
#include "server/irc/IRCConnection.h"
#include "support_lib/InProcessServer.h"

#include <gtest/gtest.h>

namespace
{

IRCConnection& Conn(InProcessServer& Server, std::string_view Nick)
{
    return *Server.Server->FindConnByNick(Nick, ConnState::Registered);
}

void Join(TestClient& Client, std::string_view Channel)
{
    Client.Send("JOIN " + std::string(Channel));
    Client.Expect(" 366 ");
}

// Users and the slots must always tell the same story.
void ExpectBothSidesAgree(IRCServer& Server)
{
    for (const auto& conn : Server.ircConns) {
        for (const ChannelSlot& slot : conn->ChannelSlots) {
            if (!slot.InUse) continue;
            ASSERT_NE(slot.Channel, nullptr);
            EXPECT_EQ(slot.Channel->State, 1);
            EXPECT_EQ(std::count(slot.Channel->Users.begin(), slot.Channel->Users.end(), conn.get()), 1);
        }
    }
    int open = 0;
    for (const auto& chan : Server.ircChannels) {
        if (chan->State == 1) ++open;
        for (IRCConnection* member : chan->Users)
            EXPECT_GE(member->FindChannelSlot(*chan), 0) << chan->Name;
    }
    EXPECT_EQ(Server.ChanCount, open);
}

TEST(Membership, JoinPartKickAndQuitKeepBothSidesAndTheCount)
{
    InProcessServer server;
    IRCServer& irc = *server.Server;
    TestClient ann = server.RegisteredClient("Ann");
    TestClient bob = server.RegisteredClient("Bob");
    Join(ann, "#a");
    Join(ann, "#b");
    Join(bob, "#b");
    Join(bob, "#c");
    ExpectBothSidesAgree(irc);
    EXPECT_EQ(irc.ChanCount, 3);
    ann.Send("KICK #b Bob");
    bob.Expect(" KICK ");
    ExpectBothSidesAgree(irc);
    ann.Send("KICK #a Ann");
    ann.Expect(" KICK ");
    ExpectBothSidesAgree(irc);
    EXPECT_EQ(irc.ChanCount, 3); // kicks close nothing, not even the emptied #a
    bob.Send("QUIT");
    bob.WaitClosed();
    server.PumpUntil([&] { return irc.ChanCount == 2; });
    ExpectBothSidesAgree(irc);
    ann.Send("PART #b");
    ann.Expect(" PART ");
    ExpectBothSidesAgree(irc);
    EXPECT_EQ(irc.ChanCount, 1); // #a, emptied by a kick, is still open
}

TEST(Membership, ClosedChannelObjectIsReusedWithNothingLeftOver)
{
    InProcessServer server;
    IRCServer& irc = *server.Server;
    TestClient ann = server.RegisteredClient("Ann");
    TestClient bob = server.RegisteredClient("Bob");
    Join(ann, "#first");
    ann.Send("MODE #first +ntk key");
    ann.Send("MODE #first +b Bob");
    ann.Send("TOPIC #first :old topic");
    ann.Send("PART #first");
    ann.Expect(" PART ");
    ASSERT_EQ(irc.ircChannels.size(), 1U);
    EXPECT_EQ(irc.ircChannels[0]->State, 0);
    EXPECT_EQ(irc.FindOpenChannel("#first"), nullptr);

    Join(bob, "#second"); // Bob was banned in #first
    ASSERT_EQ(irc.ircChannels.size(), 1U);
    const IRCChannel& chan = *irc.ircChannels[0];
    EXPECT_EQ(chan.Name, "#second");
    EXPECT_EQ(chan.GetModelist(false), "");
    EXPECT_EQ(chan.ModeKStr, "");
    EXPECT_EQ(chan.Topic, "");
    EXPECT_FALSE(chan.IsBanned(Conn(server, "Bob")));
    bob.Send("MODE #second b");
    bob.ExpectNext(" 368 ");
    Join(ann, "#third");
    EXPECT_EQ(irc.ircChannels.size(), 2U);
}

TEST(Membership, OwnerPassesKeyInvitationAndBan)
{
    InProcessServer server;
    IRCServer& irc = *server.Server;
    TestClient ann = server.RegisteredClient("Ann");
    TestClient bob = server.RegisteredClient("Bob");
    Join(bob, "#own");
    bob.Send("MODE #own +ik key");
    bob.Send("MODE #own +b *!*@*");
    bob.Expect(" +b ");
    ann.Send("JOIN #own");
    ann.Expect(" 475 Ann +k #own "); // the key is tested first
    irc.FindOpenChannel("#own")->Owner = "Ann";
    Conn(server, "Ann").IdentNick = "ann";
    ann.Send("JOIN #own");
    ann.ExpectNext(" JOIN :#own");
    ann.Expect(" 353 Ann = #own :@Bob Ann");
    ann.ExpectNext(" 366 ");
    ann.Send("MODE #own");
    EXPECT_NE(ann.ExpectNext(" 324 ").find(" 324 Ann #own +ikr key"), std::string::npos);
    bob.Expect(" JOIN :#own");
}

TEST(Membership, StatusCharactersAndChannelLists)
{
    InProcessServer server;
    TestClient ann = server.RegisteredClient("Ann");
    TestClient bob = server.RegisteredClient("Bob");
    Join(ann, "#open");
    Join(ann, "#secret");
    ann.Send("MODE #secret +s");
    Join(bob, "#plain");
    Join(ann, "#plain");
    IRCConnection& annConn = Conn(server, "Ann");
    IRCConnection& bobConn = Conn(server, "Bob");
    EXPECT_EQ(annConn.GetChannelListString(true), "@#open @#secret #plain");
    EXPECT_EQ(annConn.GetChannelListString(false), "@#open #plain");
    EXPECT_EQ(bobConn.GetHModeCHar("#PLAIN"), "@");
    EXPECT_EQ(bobConn.GetHModeCHar("#open"), "");
    EXPECT_EQ(Conn(server, "Bob").GetChannelListString(true), "@#plain");

    ChannelSlot& slot = annConn.ChannelSlots[static_cast<std::size_t>(annConn.FindChannelSlot("#plain"))];
    slot.StatusQ = true;
    slot.StatusV = true;
    EXPECT_EQ(annConn.GetHModeCHar("#plain"), "*"); // WHO and WHOIS show the highest only
    const IRCChannel& plain = *annConn.GetChannel("#Plain");
    EXPECT_EQ(annConn.GetSignedNick(plain, bobConn), "*+Ann"); // NAMES shows every mark
    annConn.GlobChanMState = ChanMState::Busy;
    EXPECT_EQ(annConn.GetSignedNick(plain, bobConn), "&*+Ann");
    annConn.GlobChanMState = ChanMState::None;
    EXPECT_EQ(annConn.GetSignedNick(*server.Server->FindOpenChannel("#open"), bobConn), "@Ann");
    EXPECT_EQ(bobConn.GetSignedNick(*server.Server->FindOpenChannel("#open"), annConn),
              "Bob"); // not a member
    EXPECT_EQ(annConn.GetChannel("#nowhere"), nullptr);

    TestClient cid = server.RegisteredClient("Cid");
    EXPECT_EQ(Conn(server, "Cid").GetChannelListString(true), "");
}

} // namespace
