// PRIVMSG and NOTICE over real TCP against the real server.

#include "protocol/ChannelSupport.h"
#include "server/core/TextIds.h"

#include <gtest/gtest.h>

namespace
{

class Messages : public ServerTest
{
};

TEST_F(Messages, MissingTargetOrTextIsAnsweredForBothCommands)
{
    TestClient ann = Client("Ann");
    struct MissingCase {
        std::string_view Line;
        std::string Reply;
    };
    const MissingCase cases[] = {
        {"PRIVMSG", "411 Ann :" + Text(TextNoRecipient, "PRIVMSG")},
        {"NOTICE", "411 Ann :" + Text(TextNoRecipient, "NOTICE")},
        {"PRIVMSG Bob", "412 Ann :" + Text(TextNoTextToSend)},
        {"NOTICE Bob :", "412 Ann :" + Text(TextNoTextToSend)},
        {"PRIVMSG Nobody :hi", "401 Ann Nobody :" + Text(TextNoSuchNick)},
        {"NOTICE Nobody :hi", "401 Ann Nobody :" + Text(TextNoSuchNick)},
    };
    for (const MissingCase& c : cases) {
        SCOPED_TRACE(std::string(c.Line));
        ann.Send(c.Line);
        EXPECT_EQ(AfterSource(ann.ExpectNext(" 4")), c.Reply);
    }
}

TEST_F(Messages, PrivateMessageKeepsTheTargetAsTypedAndACommaIsNoList)
{
    TestClient ann = Client("Ann");
    TestClient bob = Client("Bob");
    TestClient cid = Client("Cid");
    for (const std::string command : {"PRIVMSG", "NOTICE"}) {
        SCOPED_TRACE(command);
        ann.Send(command + " bOB :hello  there");
        const std::string line = bob.ExpectNext(" " + command + " ");
        EXPECT_EQ(line.substr(0, 10), ":Ann!user@");
        EXPECT_EQ(AfterSource(line), command + " bOB :hello  there");
    }
    ann.Send("PRIVMSG Bob,Cid :both?");
    EXPECT_EQ(AfterSource(ann.ExpectNext(" 401 ")), "401 Ann Bob,Cid :" + Text(TextNoSuchNick));
    EXPECT_EQ(bob.Sync(), std::vector<std::string>{});
    EXPECT_EQ(cid.Sync(), std::vector<std::string>{});
}

TEST_F(Messages, ChannelMessageReachesTheOthersButNotTheSender)
{
    TestClient ann = Client("Ann");
    TestClient bob = Client("Bob");
    TestClient cid = Client("Cid");
    for (TestClient* member : {&ann, &bob, &cid})
        JoinDone(*member, "#talk");
    for (TestClient* member : {&ann, &bob})
        member->Sync();
    ann.Send("PRIVMSG #TALK :hi all");
    for (TestClient* member : {&bob, &cid}) {
        const std::string line = member->ExpectNext(" PRIVMSG ");
        EXPECT_EQ(line.substr(0, 10), ":Ann!user@");
        EXPECT_EQ(AfterSource(line), "PRIVMSG #TALK :hi all");
    }
    EXPECT_EQ(ann.Sync(), std::vector<std::string>{});
}

TEST_F(Messages, ModesNAndMKeepOutsidersAndTheVoiceless)
{
    TestClient ann = Client("Ann");
    TestClient bob = Client("Bob");
    TestClient cid = Client("Cid");
    JoinDone(ann, "#room");
    JoinDone(bob, "#room");
    // Without n an outsider may write in.
    cid.Send("PRIVMSG #room :from outside");
    bob.Expect("PRIVMSG #room :from outside");
    ann.Send("MODE #room +n");
    bob.Expect(" MODE ");
    cid.Send("PRIVMSG #room :again");
    EXPECT_EQ(AfterSource(cid.ExpectNext(" 404 ")), "404 Cid #room :" + Text(TextNoExternalMessages));
    ann.Send("MODE #room +m");
    bob.Expect(" MODE ");
    bob.Send("NOTICE #room :may I?");
    EXPECT_EQ(AfterSource(bob.ExpectNext(" 404 ")), "404 Bob +v #room :" + Text(TextModeratedChannel));
    ann.Send("MODE #room +v Bob");
    bob.Expect(" MODE ");
    bob.Send("PRIVMSG #room :now I may");
    ann.Expect("PRIVMSG #room :now I may");
    EXPECT_EQ(CountContaining(cid.Sync(), "PRIVMSG"), 0);
}

TEST_F(Messages, AwayReceiverGets301AndNoMessage)
{
    TestClient ann = Client("Ann");
    TestClient bob = Client("Bob");
    bob.Send("AWAY :gone fishing");
    bob.Expect(" 306 ");
    ann.Send("PRIVMSG Bob :are you there?");
    EXPECT_EQ(AfterSource(ann.ExpectNext(" 301 ")), "301 Ann Bob :gone fishing");
    EXPECT_EQ(bob.Sync(), std::vector<std::string>{});
}

TEST_F(Messages, WritingToSomeoneEndsTheSendersAway)
{
    TestClient ann = Client("Ann");
    TestClient bob = Client("Bob");
    JoinDone(bob, "#back");
    ann.Send("SLEEP");
    ann.Expect(" 306 ");
    // Nobody to write to: still away.
    ann.Send("PRIVMSG Nobody :hello");
    ann.ExpectNext(" 401 ");
    EXPECT_EQ(ann.Sync(), std::vector<std::string>{});
    ann.Send("PRIVMSG Bob :hello");
    EXPECT_EQ(AfterSource(ann.ExpectNext(" 305 ")), "305 Ann :" + Text(TextNoLongerAway));
    bob.Expect("PRIVMSG Bob :hello");
    // Writing to a channel ends it too, after the message went out.
    ann.Send("SLEEP");
    ann.Expect(" 306 ");
    ann.Send("PRIVMSG #back :back again");
    ann.ExpectNext(" 305 ");
    bob.Expect("PRIVMSG #back :back again");
}

} // namespace
