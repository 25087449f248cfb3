// TOPIC and KICK over real TCP against the real server.

#include "protocol/ChannelSupport.h"
#include "server/core/TextIds.h"

#include <gtest/gtest.h>

namespace
{

class TopicKick : public ServerTest
{
};

TEST_F(TopicKick, QueryOfAChannelWithoutTopicIsTheBareLine)
{
    TestClient ann = Client("Ann");
    JoinDone(ann, "#bare");
    ann.Send("TOPIC #bare");
    EXPECT_EQ(AfterSource(ann.ExpectNext(" 332 ")), "332 Ann #bare");
    ann.Send("TOPIC #elsewhere :x");
    EXPECT_EQ(AfterSource(ann.ExpectNext(" 403 ")), "403 Ann #elsewhere :" + Text(TextNotOnChannel));
}

TEST_F(TopicKick, TopicGoesToEveryMemberAndJoinersSeeItWithItsSetter)
{
    TestClient ann = Client("Ann");
    TestClient bob = Client("Bob");
    JoinDone(ann, "#news");
    JoinDone(bob, "#news");
    ann.Expect(" JOIN ");
    // Control characters become spaces; bold and colour stay.
    ann.Send("TOPIC #news :one\ttwo \x02"
             "bold\x02 \x03"
             "4red");
    const std::string topic = "one two \x02"
                              "bold\x02 \x03"
                              "4red";
    for (TestClient* member : {&ann, &bob}) {
        const std::string line = member->ExpectNext(" TOPIC ");
        EXPECT_EQ(line.substr(0, 10), ":Ann!user@");
        EXPECT_EQ(AfterSource(line), "TOPIC #news :" + topic);
    }
    TestClient cid = Client("Cid");
    cid.Send("JOIN #news");
    cid.ExpectNext(" JOIN ");
    EXPECT_EQ(AfterSource(cid.ExpectNext(" 332 ")), "332 Cid #news :" + topic);
    const std::string setter = AfterSource(cid.ExpectNext(" 333 "));
    EXPECT_EQ(setter.substr(0, 19), "333 Cid #news Ann 1"); // then the time as Unix seconds
    cid.Expect(" 366 ");
    cid.Send("TOPIC #news");
    EXPECT_EQ(AfterSource(cid.ExpectNext(" 332 ")), "332 Cid #news :" + topic);
}

TEST_F(TopicKick, ModeTLeavesTheTopicToThoseWithTheSkill)
{
    TestClient ann = Client("Ann");
    TestClient bob = Client("Bob");
    JoinDone(ann, "#locked");
    JoinDone(bob, "#locked");
    bob.Send("TOPIC #locked :anyone may");
    bob.Expect(" TOPIC #locked :anyone may");
    ann.Send("MODE #locked +t");
    bob.Expect(" MODE ");
    bob.Send("TOPIC #locked :not now");
    EXPECT_EQ(AfterSource(bob.ExpectNext(" 482 ")), "482 Bob #locked :" + Text(TextNoChannelRights));
    ann.Send("TOPIC #locked :operators may");
    bob.Expect(" TOPIC #locked :operators may");
}

TEST_F(TopicKick, KickReachesEveryoneAndRemovesTheMember)
{
    TestClient ann = Client("Ann");
    TestClient bob = Client("Bob");
    TestClient cid = Client("Cid");
    for (TestClient* member : {&ann, &bob, &cid})
        JoinDone(*member, "#door");
    ann.Sync();
    bob.Sync();
    ann.Send("KICK #Door bob");
    for (TestClient* member : {&ann, &bob, &cid}) {
        const std::string line = member->ExpectNext(" KICK ");
        EXPECT_EQ(line.substr(0, 10), ":Ann!user@");
        EXPECT_EQ(AfterSource(line), "KICK #Door bob :Ann"); // as typed; the kicker's nick as reason
    }
    ann.Send("KICK #door Cid :go away now");
    EXPECT_EQ(AfterSource(cid.ExpectNext(" KICK ")), "KICK #door Cid :go away now");
    ann.ExpectNext(" KICK #door Cid ");
    for (TestClient* gone : {&bob, &cid}) {
        gone->Send("NAMES #door");
        gone->ExpectNext(" 403 ");
    }
    ann.Send("NAMES #door");
    EXPECT_EQ(AfterSource(ann.ExpectNext(" 353 ")), "353 Ann = #door :@Ann");
}

TEST_F(TopicKick, KickIsRefusedWithoutSkillMembershipOrTarget)
{
    TestClient ann = Client("Ann");
    TestClient bob = Client("Bob");
    JoinDone(ann, "#guard");
    JoinDone(bob, "#guard");
    ann.Sync();
    bob.Send("KICK #guard Ann");
    EXPECT_EQ(AfterSource(bob.ExpectNext(" 482 ")), "482 Bob #guard :" + Text(TextNoChannelRights));
    ann.Send("KICK #guard Nobody");
    EXPECT_EQ(AfterSource(ann.ExpectNext(" 401 ")), "401 Ann Nobody :" + Text(TextNoSuchNick));
    ann.Send("KICK #nowhere Bob");
    EXPECT_EQ(AfterSource(ann.ExpectNext(" 403 ")), "403 Ann #nowhere :" + Text(TextNotOnChannel));
}

TEST_F(TopicKick, KickNeverClosesAChannelEvenWhenItEmptiesIt)
{
    TestClient ann = Client("Ann");
    JoinDone(ann, "#alone");
    ann.Send("TOPIC #alone :still open");
    ann.Expect(" TOPIC ");
    ann.Send("KICK #alone Ann :myself");
    EXPECT_EQ(AfterSource(ann.ExpectNext(" KICK ")), "KICK #alone Ann :myself");
    ann.Send("LIST #alone");
    ann.ExpectNext(" 321 ");
    EXPECT_EQ(AfterSource(ann.ExpectNext(" 322 ")), "322 Ann #alone 0 :still open");
    TestClient bob = Client("Bob");
    bob.Send("JOIN #alone");
    bob.ExpectNext(" JOIN ");
    bob.ExpectNext(" 332 Bob #alone :still open");
}

} // namespace
