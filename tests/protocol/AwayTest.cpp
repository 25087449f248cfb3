// BUSY, SLEEP and AWAY over real TCP against the real server: the replies, the x and y channel
// modes and the prefixes in NAMES.

#include "protocol/ChannelSupport.h"
#include "server/core/IRCServer.h"
#include "server/core/TextIds.h"

#include <gtest/gtest.h>

namespace
{

class Away : public ServerTest
{
};

TEST_F(Away, BusyThenSleepGivesOneLinePerChannelRemovingXAndAddingY)
{
    TestClient ann = Client("Ann");
    TestClient bob = Client("Bob");
    for (const std::string chan : {"#one", "#two"}) {
        JoinDone(ann, chan);
        JoinDone(bob, chan);
    }
    ann.Sync();
    ann.Send("BUSY");
    for (TestClient* member : {&ann, &bob}) {
        const std::string line = member->ExpectNext(" MODE ");
        EXPECT_EQ(line.substr(0, 10), ":Ann!user@");
        EXPECT_EQ(AfterSource(line), "MODE #one +x Ann");
        EXPECT_EQ(AfterSource(member->ExpectNext(" MODE ")), "MODE #two +x Ann");
    }
    ann.Send("SLEEP");
    EXPECT_EQ(AfterSource(ann.ExpectNext(" 306 ")), "306 Ann :" + Text(TextNowAway));
    for (TestClient* member : {&ann, &bob}) {
        EXPECT_EQ(AfterSource(member->ExpectNext(" MODE ")), "MODE #one -x+y Ann Ann");
        EXPECT_EQ(AfterSource(member->ExpectNext(" MODE ")), "MODE #two -x+y Ann Ann");
    }
    bob.Send("NAMES #one");
    EXPECT_EQ(AfterSource(bob.ExpectNext(" 353 ")), "353 Bob = #one :~@Ann Bob");
    bob.ExpectNext(" 366 ");
    ann.Send("AWAY");
    EXPECT_EQ(AfterSource(ann.ExpectNext(" 305 ")), "305 Ann :" + Text(TextNoLongerAway));
    EXPECT_EQ(AfterSource(bob.ExpectNext(" MODE ")), "MODE #one -y Ann");
}

TEST_F(Away, BusyWithoutArgumentTogglesAndWithANumberSets)
{
    TestClient ann = Client("Ann");
    JoinDone(ann, "#state");
    struct BusyStep {
        std::string_view Command, Line; // Line empty: no change, nothing sent
    };
    constexpr BusyStep steps[] = {
        {"BUSY", "MODE #state +x Ann"},
        {"BUSY", "MODE #state -x Ann"},
        {"BUSY 1", "MODE #state +x Ann"},
        {"BUSY 1", ""},
        {"SLEEP 0", ""},
        {"BUSY 0", "MODE #state -x Ann"},
    };
    for (const BusyStep& step : steps) {
        SCOPED_TRACE(std::string(step.Command));
        ann.Send(step.Command);
        const std::vector<std::string> lines = ann.Sync();
        if (step.Line.empty()) {
            EXPECT_EQ(lines, std::vector<std::string>{});
        } else {
            ASSERT_EQ(lines.size(), 1U);
            EXPECT_EQ(AfterSource(lines[0]), step.Line);
        }
    }
}

TEST_F(Away, JoiningWhileBusyTellsTheOthersOnly)
{
    TestClient ann = Client("Ann");
    TestClient bob = Client("Bob");
    JoinDone(bob, "#later");
    ann.Send("BUSY");
    ann.Send("JOIN #later");
    ann.Expect(" 366 ");
    EXPECT_EQ(ann.Sync(), std::vector<std::string>{});
    bob.ExpectNext(" JOIN ");
    EXPECT_EQ(AfterSource(bob.ExpectNext(" MODE ")), "MODE #later +x Ann");
    bob.Send("NAMES #later");
    EXPECT_EQ(AfterSource(bob.ExpectNext(" 353 ")), "353 Bob = #later :@Bob &Ann");
}

TEST(AwayWithoutChannelModes, SleepOnlyReplies)
{
    TestServer server({{GlobalSlot::AwayChanmode, "0"}});
    TestClient ann = Registered("Ann", server.Port());
    TestClient bob = Registered("Bob", server.Port());
    JoinDone(ann, "#plain");
    JoinDone(bob, "#plain");
    ann.Sync();
    ann.Send("SLEEP");
    EXPECT_EQ(AfterSource(ann.ExpectNext(" 306 ")), "306 Ann :" + Text(TextNowAway));
    EXPECT_EQ(ann.Sync(), std::vector<std::string>{});
    EXPECT_EQ(bob.Sync(), std::vector<std::string>{});
    bob.Send("NAMES #plain");
    EXPECT_EQ(AfterSource(bob.ExpectNext(" 353 ")), "353 Bob = #plain :~@Ann Bob");
}

} // namespace
