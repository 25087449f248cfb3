// MODE over real TCP against the real server: flags, key, bans, member statuses, the eight-letter
// MODE lines and the ranks that decide who may change what.

#include "protocol/ChannelSupport.h"
#include "server/core/IRCServer.h"
#include "server/core/TextIds.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace
{

class Modes : public ServerTest
{
};

// The line a member receives for a change by Ann, without her source.
std::string ModeSeen(TestClient& Member)
{
    return AfterSource(Member.ExpectNext(" MODE "));
}

TEST_F(Modes, NineLettersGiveTwoLinesTheFirstWithEight)
{
    TestClient ann = Client("Ann");
    TestClient bob = Client("Bob");
    JoinDone(ann, "#nine");
    JoinDone(bob, "#nine");
    ann.Expect(" JOIN ");
    ann.Send("MODE #nine +mntpsikjb key Cid");
    for (TestClient* member : {&ann, &bob}) {
        EXPECT_EQ(ModeSeen(*member), "MODE #nine +mntpsikj key");
        EXPECT_EQ(ModeSeen(*member), "MODE #nine +b Cid!*@*");
    }
    ann.Send("MODE #nine");
    EXPECT_EQ(AfterSource(ann.ExpectNext(" 324 ")), "324 Ann #nine +mntpsikj key");
    const std::string created = AfterSource(ann.ExpectNext(" 329 "));
    EXPECT_EQ(created.substr(0, 15), "329 Ann #nine 1");
}

TEST_F(Modes, StatusLettersForSeveralMembersShareOneLine)
{
    TestClient ann = Client("Ann");
    TestClient bob = Client("Bob");
    TestClient cid = Client("Cid");
    TestClient dan = Client("Dan");
    for (TestClient* member : {&ann, &bob, &cid, &dan})
        JoinDone(*member, "#ops");
    ann.Sync();
    ann.Send("MODE #ops +ooo Bob cid DAN");
    EXPECT_EQ(ModeSeen(ann), "MODE #ops +ooo Bob Cid Dan"); // nicks as they are spelt
    EXPECT_EQ(ModeSeen(dan), "MODE #ops +ooo Bob Cid Dan");
    // A status already held changes nothing and is not announced.
    ann.Send("MODE #ops +oo Bob Ann");
    EXPECT_EQ(ann.Sync(), std::vector<std::string>{});
    ann.Send("MODE #ops -o+v Bob Bob");
    EXPECT_EQ(ModeSeen(ann), "MODE #ops -o+v Bob Bob");
    ann.Send("NAMES #ops");
    EXPECT_EQ(AfterSource(ann.ExpectNext(" 353 ")), "353 Ann = #ops :@Ann +Bob @Cid @Dan");
}

TEST_F(Modes, UpperCaseLettersAreTheLowerCaseModes)
{
    TestClient ann = Client("Ann");
    JoinDone(ann, "#case");
    ann.Send("MODE #case +NT");
    EXPECT_EQ(ModeSeen(ann), "MODE #case +nt");
}

TEST_F(Modes, KeyIsSetOnceRemovedWithoutKeyAndShownToMembers)
{
    TestClient ann = Client("Ann");
    JoinDone(ann, "#key");
    struct KeyStep {
        std::string_view Command;
        std::string_view Broadcast; // empty: nothing changes
        std::string_view ModeIs;
    };
    constexpr KeyStep steps[] = {
        {"+k", "MODE #key +k", "324 Ann #key"}, // the letter goes out, but no key is set
        {"+k one", "MODE #key +k one", "324 Ann #key +k one"},
        {"+k two", "", "324 Ann #key +k one"}, // a second key does not replace the first
        {"-k", "MODE #key -k", "324 Ann #key"},
    };
    for (const KeyStep& step : steps) {
        SCOPED_TRACE(std::string(step.Command));
        ann.Send("MODE #key " + std::string(step.Command));
        if (!step.Broadcast.empty()) {
            EXPECT_EQ(ModeSeen(ann), step.Broadcast);
        }
        ann.Send("MODE #key");
        EXPECT_EQ(AfterSource(ann.ExpectNext(" 324 ")), step.ModeIs);
        ann.ExpectNext(" 329 ");
    }
}

TEST_F(Modes, BanListAddsListsAndRemoves)
{
    TestClient ann = Client("Ann");
    JoinDone(ann, "#bans");
    ann.Send("MODE #bans +bb Bob *!*@evil.example");
    EXPECT_EQ(ModeSeen(ann), "MODE #bans +bb Bob!*@* *!*@evil.example");
    // Present already, or absent when removed: nothing happens.
    ann.Send("MODE #bans +b-b BOB!*@* nobody");
    EXPECT_EQ(ann.Sync(), std::vector<std::string>{});

    const auto listBans = [&ann](std::string_view Command) {
        ann.Send(Command);
        std::vector<std::string> bans;
        for (;;) {
            const std::string reply = AfterSource(ann.ExpectNext(" #bans "));
            if (reply.rfind("368 ", 0) == 0 || reply.empty()) {
                EXPECT_EQ(reply, "368 Ann #bans :" + Text(TextEndOfBanList));
                return bans;
            }
            // Mask, setter and the time as Unix seconds.
            const std::size_t timeAt = reply.rfind(' ');
            EXPECT_GT(std::stoll(reply.substr(timeAt + 1)), 1'000'000'000LL) << reply;
            bans.push_back(reply.substr(0, timeAt));
        }
    };
    const std::vector<std::string> both = {"367 Ann #bans Bob!*@* Ann", "367 Ann #bans *!*@evil.example Ann"};
    EXPECT_EQ(listBans("MODE #bans b"), both);
    EXPECT_EQ(listBans("MODE #bans -b"), both); // without a mask the letter lists, whatever the sign
    ann.Send("MODE #bans -b bob");              // a bare nick stands for nick!*@*
    EXPECT_EQ(ModeSeen(ann), "MODE #bans -b bob!*@*");
    EXPECT_EQ(listBans("MODE #bans +b"), std::vector<std::string>{"367 Ann #bans *!*@evil.example Ann"});
}

TEST_F(Modes, BanListHoldsSixtyFourMasks)
{
    TestClient ann = Client("Ann");
    JoinDone(ann, "#full");
    for (int i = 1; i <= 65; ++i)
        ann.Send("MODE #full +b user" + std::to_string(i));
    ann.Expect("MODE #full +b user64!*@*");
    EXPECT_EQ(ann.Sync(), std::vector<std::string>{}); // the 65th is dropped silently
    ann.Send("MODE #full -b user3");
    ann.Expect("MODE #full -b user3!*@*");
    ann.Send("MODE #full +b user65");
    EXPECT_EQ(ModeSeen(ann), "MODE #full +b user65!*@*"); // the freed place takes it
}

// The host name the server finds for a loopback client: the name of 127.0.0.1, or the address.
std::string LoopbackHostName()
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    char name[NI_MAXHOST] = {};
    if (getnameinfo(reinterpret_cast<sockaddr*>(&address), sizeof(address), name, sizeof(name), nullptr, 0,
                    NI_NAMEREQD) != 0)
        return "127.0.0.1";
    return name;
}

TEST_F(Modes, BanOnTheRealHostHoldsAlthoughOthersSeeTheCloak)
{
    TestClient ann = Client("Ann");
    TestClient bob = Client("Bob");
    bob.Send("JOIN #look");
    const std::string join = bob.ExpectNext(" JOIN :#look");
    bob.Expect(" 366 ");
    const std::string shownHost = join.substr(join.find('@') + 1, join.find(' ') - join.find('@') - 1);
    const std::string realHost = LoopbackHostName();
    ASSERT_NE(shownHost, realHost);

    JoinDone(ann, "#real");
    ann.Send("MODE #real +b *!*@" + realHost);
    ann.Expect(" MODE ");
    bob.Send("JOIN #real");
    EXPECT_EQ(AfterSource(bob.ExpectNext(" 474 ")), "474 Bob +b #real :" + Text(TextCannotJoin));
    // A ban on the shown host holds as well.
    JoinDone(ann, "#shown");
    ann.Send("MODE #shown +b *!*@" + shownHost);
    ann.Expect(" MODE ");
    bob.Send("JOIN #shown");
    bob.ExpectNext(" 474 Bob +b #shown ");
}

TEST_F(Modes, RefusedAndUnknownLettersAreAnsweredOncePerCommand)
{
    TestClient ann = Client("Ann");
    TestClient bob = Client("Bob");
    JoinDone(ann, "#strict");
    JoinDone(bob, "#strict");
    ann.Sync();
    bob.Send("MODE #strict +mntzZ");
    const std::vector<std::string> bobSaw = bob.Sync();
    ASSERT_EQ(bobSaw.size(), 2U);
    EXPECT_EQ(AfterSource(bobSaw[0]), "482 Bob #strict :" + Text(TextNoChannelRights));
    EXPECT_EQ(AfterSource(bobSaw[1]), "472 Bob zz :" + Text(TextUnknownMode));
    ann.Send("MODE #strict +xy");
    EXPECT_EQ(AfterSource(ann.ExpectNext(" 472 ")), "472 Ann xy :" + Text(TextBusyAwayNotModes));
    // A status letter for somebody who is not in the channel: one 401 per letter.
    ann.Send("MODE #strict +vo Nobody Cid");
    EXPECT_EQ(AfterSource(ann.ExpectNext(" 401 ")), "401 Ann Nobody :" + Text(TextNoSuchNick));
    EXPECT_EQ(AfterSource(ann.ExpectNext(" 401 ")), "401 Ann Cid :" + Text(TextNoSuchNick));
}

TEST_F(Modes, ModeOfANickShowsItsModesAndChangesNothing)
{
    TestClient ann = Client("Ann");
    TestClient bob = Client("Bob");
    bob.Send("MODE ann");
    EXPECT_EQ(AfterSource(bob.ExpectNext(" 221 ")), "221 Ann +wx");
    bob.Send("MODE Ann +i");
    EXPECT_EQ(bob.Sync(), std::vector<std::string>{});
    bob.Send("MODE Nobody");
    EXPECT_EQ(AfterSource(bob.ExpectNext(" 403 ")), "403 Bob Nobody :" + Text(TextNoSuchNick));
    bob.Send("MODE");
    EXPECT_EQ(AfterSource(bob.ExpectNext(" 461 ")), "461 Bob MODE :" + Text(TextNeedMoreParams));
}

TEST_F(Modes, ModeJHidesStatusesFromOtherMembers)
{
    TestClient ann = Client("Ann");
    TestClient bob = Client("Bob");
    JoinDone(ann, "#quiet");
    ann.Send("MODE #quiet +j");
    ann.Expect(" MODE ");
    JoinDone(bob, "#quiet");
    ann.Send("MODE #quiet +v Bob");
    bob.Expect(" MODE #quiet +v Bob");
    bob.Send("NAMES #quiet");
    EXPECT_EQ(AfterSource(bob.ExpectNext(" 353 ")), "353 Bob = #quiet :Ann +Bob");
    ann.Sync();
    ann.Send("NAMES #quiet");
    EXPECT_EQ(AfterSource(ann.ExpectNext(" 353 ")), "353 Ann = #quiet :@Ann +Bob");
}

// Ranks from a Rank.cfg of the test's own: operators may only give voice, and take or give
// half-operator status; half-operators may only take operator status.
TEST(ModesRanks, SignedGrantsAllowOnlySettingOrOnlyRemoving)
{
    TestServer server;
    server.Stop();
    server.Dir().Write("Rank.cfg", ">o\r\nmode +v\r\nmode h\r\n>h\r\nmode -o\r\n");
    server.Start();
    TestClient ann = Registered("Ann", server.Port());
    TestClient bob = Registered("Bob", server.Port());
    TestClient cid = Registered("Cid", server.Port());
    for (TestClient* member : {&ann, &bob, &cid})
        JoinDone(*member, "#ranks");
    ann.Sync();
    cid.Sync();

    ann.Send("MODE #ranks +v Bob");
    EXPECT_EQ(ModeSeen(ann), "MODE #ranks +v Bob");
    ann.Send("MODE #ranks -v Bob");
    EXPECT_EQ(AfterSource(ann.ExpectNext(" 482 ")), "482 Ann #ranks :" + Text(TextNoChannelRights));
    ann.Send("MODE #ranks +h Cid");
    EXPECT_EQ(ModeSeen(ann), "MODE #ranks +h Cid");
    cid.Expect("MODE #ranks +h Cid");
    cid.Send("MODE #ranks +o Cid");
    EXPECT_EQ(AfterSource(cid.ExpectNext(" 482 ")), "482 Cid #ranks :" + Text(TextNoChannelRights));
    cid.Send("MODE #ranks -o Ann");
    EXPECT_EQ(ModeSeen(cid), "MODE #ranks -o Ann");
    // Without status Ann has no rights left at all.
    ann.Expect("MODE #ranks -o Ann");
    ann.Send("MODE #ranks +v Cid");
    ann.ExpectNext(" 482 Ann #ranks ");
}

} // namespace
