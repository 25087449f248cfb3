// JOIN, PART, NAMES, LIST and leaving by QUIT, over real TCP against the real server.

#include "protocol/ChannelSupport.h"
#include "server/core/IRCServer.h"
#include "server/core/TextIds.h"

#include <gtest/gtest.h>

#include <set>

namespace
{

class Channels : public ServerTest
{
};

TEST_F(Channels, FirstJoinerBecomesOperatorSilentlyAndNamesShowsIt)
{
    TestClient ann = Client("Ann");
    ann.Send("JOIN #Lobby");
    EXPECT_EQ(AfterSource(ann.ExpectNext(" JOIN ")), "JOIN :#Lobby");
    ann.ExpectNext(" 331 Ann #Lobby :" + Text(TextNoTopic));
    EXPECT_EQ(AfterSource(ann.ExpectNext(" 353 ")), "353 Ann = #Lobby :@Ann");
    ann.ExpectNext(" 366 Ann #Lobby :" + Text(TextEndOfNames));
    EXPECT_EQ(ann.Sync(), std::vector<std::string>{}); // no MODE line for the operator status

    TestClient bob = Client("Bob");
    bob.Send("JOIN #LOBBY");
    EXPECT_EQ(AfterSource(bob.ExpectNext(" JOIN ")), "JOIN :#Lobby"); // the name as first written
    bob.ExpectNext(" 331 ");
    EXPECT_EQ(AfterSource(bob.ExpectNext(" 353 ")), "353 Bob = #Lobby :@Ann Bob");
    bob.ExpectNext(" 366 ");
    const std::string seen = ann.ExpectNext(" JOIN ");
    EXPECT_EQ(seen.substr(0, 10), ":Bob!user@");
    EXPECT_EQ(AfterSource(seen), "JOIN :#Lobby");
    EXPECT_EQ(ann.Sync(), std::vector<std::string>{});
}

struct RefusalCase {
    std::string_view Modes; // set by the channel's operator
    std::string_view Key;   // given with the JOIN
    std::string_view Reply; // numeric and mode letter
};
constexpr RefusalCase RefusalCases[] = {
    {"+k secret", "", "475 Bob +k"},
    {"+k secret", "Secret", "475 Bob +k"}, // keys are compared exactly
    {"+i", "", "473 Bob +i"},
    {"+b Bob", "", "474 Bob +b"},
    {"+b *!*@*", "", "474 Bob +b"},
    {"+ik secret", "secret", "473 Bob +i"}, // the right key does not open an invite-only channel
};

TEST_F(Channels, RefusedJoinNamesTheModeLetterBeforeTheChannel)
{
    TestClient ann = Client("Ann");
    TestClient bob = Client("Bob");
    int number = 0;
    for (const RefusalCase& c : RefusalCases) {
        const std::string chan = "#refuse" + std::to_string(number++);
        SCOPED_TRACE(chan + " " + std::string(c.Modes));
        JoinDone(ann, chan);
        ann.Send("MODE " + chan + " " + std::string(c.Modes));
        ann.Expect(" MODE " + chan);
        bob.Send("JOIN " + chan + " " + std::string(c.Key));
        EXPECT_EQ(AfterSource(bob.ExpectNext(" 47")),
                  std::string(c.Reply) + " " + chan + " :" + Text(TextCannotJoin));
        // No trace is left: Bob is not a member and Ann saw nothing.
        bob.Send("NAMES " + chan);
        bob.ExpectNext(" 403 Bob " + chan + " :" + Text(TextNotOnChannel));
        EXPECT_EQ(ann.Sync(), std::vector<std::string>{});
    }
}

TEST_F(Channels, OneKeyServesEveryChannelOfTheList)
{
    TestClient ann = Client("Ann");
    TestClient bob = Client("Bob");
    for (const std::string chan : {"#k1", "#k2"}) {
        JoinDone(ann, chan);
        ann.Send("MODE " + chan + " +k pw");
        ann.Expect(" MODE " + chan + " +k pw");
    }
    bob.Send("JOIN #k1,#k2 pw");
    bob.Expect(" 366 Bob #k1 ");
    bob.Expect(" 366 Bob #k2 ");
}

TEST_F(Channels, BadChannelNamesAreRefused)
{
    TestClient ann = Client("Ann");
    const std::string longest = "#" + std::string(30, 'x');
    const std::string tooLong = longest + "y";
    struct NameCase {
        std::string Join, Reply;
    };
    const NameCase cases[] = {
        {"JOIN", "403 Ann :"}, // an empty name has no channel parameter
        {"JOIN lobby", "403 Ann lobby :"},
        {"JOIN " + tooLong, "403 Ann " + tooLong + " :"},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.Join);
        ann.Send(c.Join);
        EXPECT_EQ(AfterSource(ann.ExpectNext(" 403 ")), c.Reply + Text(TextBadChannelName));
    }
    JoinDone(ann, longest);
    // A comma at the end of the list leaves an empty piece, refused after the first channel.
    ann.Send("JOIN #comma,");
    ann.Expect(" 366 Ann #comma ");
    EXPECT_EQ(AfterSource(ann.ExpectNext(" 403 ")), "403 Ann :" + Text(TextBadChannelName));
}

TEST_F(Channels, JoiningAChannelAgainInAnotherCaseDoesNothing)
{
    TestClient ann = Client("Ann");
    JoinDone(ann, "#Twice");
    ann.Send("JOIN #TWICE");
    EXPECT_EQ(ann.Sync(), std::vector<std::string>{});
}

TEST_F(Channels, PartEchoesTheNameAsTypedAndTheLastLeaverClosesTheChannel)
{
    TestClient ann = Client("Ann");
    TestClient bob = Client("Bob");
    JoinDone(ann, "#part");
    ann.Send("TOPIC #part :kept while open");
    ann.Expect(" TOPIC ");
    JoinDone(bob, "#part");
    ann.Expect(" JOIN ");
    ann.Send("PART #PART");
    EXPECT_EQ(AfterSource(ann.ExpectNext(" PART ")), "PART :#PART");
    EXPECT_EQ(bob.ExpectNext(" PART "), ann.Seen.back());
    bob.Send("PART #part");
    bob.ExpectNext(" PART ");
    // Closed: the next joiner opens it anew, without topic and as its operator.
    bob.Send("JOIN #part");
    bob.ExpectNext(" JOIN ");
    bob.ExpectNext(" 331 ");
    EXPECT_EQ(AfterSource(bob.ExpectNext(" 353 ")), "353 Bob = #part :@Bob");

    struct PartCase {
        std::string Part, Reply;
    };
    const PartCase cases[] = {
        {"PART #part,#other", "403 Ann #part,#other :"}, // one name, never a list
        {"PART #nowhere", "403 Ann #nowhere :"},
        {"PART", "403 Ann :"},
    };
    for (const PartCase& c : cases) {
        SCOPED_TRACE(c.Part);
        ann.Send(c.Part);
        EXPECT_EQ(AfterSource(ann.ExpectNext(" 403 ")), c.Reply + Text(TextNotOnChannel));
    }
}

TEST(ChannelsKeptOpen, WithoutClosingEmptyChannelsTheTopicOutlivesTheMembers)
{
    TestServer server({{GlobalSlot::CloseChanIfEmpty, "0"}});
    TestClient ann = Registered("Ann", server.Port());
    JoinDone(ann, "#stay");
    ann.Send("TOPIC #stay :still here");
    ann.Expect(" TOPIC ");
    ann.Send("PART #stay");
    ann.Expect(" PART ");
    TestClient bob = Registered("Bob", server.Port());
    bob.Send("JOIN #stay");
    bob.ExpectNext(" JOIN ");
    bob.ExpectNext(" 332 Bob #stay :still here");
    EXPECT_NE(bob.ExpectNext(" 333 ").find(" 333 Bob #stay Ann "), std::string::npos);
}

TEST_F(Channels, ThirtyThirdChannelIsRefused)
{
    TestClient ann = Client("Ann");
    for (int i = 1; i <= 32; ++i)
        ann.Send("JOIN #c" + std::to_string(i));
    ann.Expect(" 366 Ann #c32 ");
    ann.Send("JOIN #c33");
    EXPECT_EQ(AfterSource(ann.ExpectNext(" 405 ")), "405 Ann :" + Text(TextTooManyChannels));
}

TEST_F(Channels, NamesOfASecretChannelSendsOnlyItsEnd)
{
    TestClient ann = Client("Ann");
    JoinDone(ann, "#hidden");
    ann.Send("MODE #hidden +s");
    ann.Expect(" MODE ");
    ann.Send("NAMES #hidden");
    ann.ExpectNext(" 366 Ann #hidden :");
    TestClient bob = Client("Bob");
    bob.Send("NAMES #hidden");
    bob.ExpectNext(" 403 Bob #hidden :");
}

TEST_F(Channels, LongMemberListIsSplitBetweenNicksBefore512Characters)
{
    std::vector<TestClient> members;
    std::set<std::string> expected;
    for (int i = 0; i < 40; ++i) {
        std::string nick = "Member" + std::to_string(i);
        nick += std::string(28 - nick.size(), 'x');
        members.push_back(Client(nick));
        JoinDone(members.back(), "#crowd");
        expected.insert(i == 0 ? "@" + nick : nick);
    }
    TestClient& last = members.back();
    last.Sync();
    last.Send("NAMES #crowd");
    std::vector<std::string> lines;
    for (;;) {
        const std::string line = last.Expect(" #crowd ");
        if (line.empty() || line.find(" 366 ") != std::string::npos) break;
        lines.push_back(line);
    }
    ASSERT_GE(lines.size(), 2U);
    std::set<std::string> shown;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const std::size_t listAt = line.find(" = #crowd :");
        ASSERT_NE(listAt, std::string::npos) << line;
        const std::string list = line.substr(listAt + 11);
        for (std::size_t start = 0; start <= list.size();) {
            const std::size_t space = std::min(list.find(' ', start), list.size());
            shown.insert(list.substr(start, space - start));
            start = space + 1;
        }
        if (i + 1 < lines.size()) {
            // A line ends only where the next nick would pass 512 characters.
            const std::string& next = lines[i + 1];
            std::string nextNick = next.substr(next.find(" = #crowd :") + 11);
            nextNick = nextNick.substr(0, nextNick.find(' '));
            if (!nextNick.empty() && nextNick[0] == '@') nextNick.erase(0, 1);
            EXPECT_GT(line.size() + nextNick.size(), 512U);
            EXPECT_LE(line.size(), 512U + 30U);
        }
    }
    EXPECT_EQ(shown, expected);
}

TEST_F(Channels, ListFiltersByCountTextAndPattern)
{
    TestClient ann = Client("Ann");
    TestClient bob = Client("Bob");
    TestClient cid = Client("Cid");
    JoinDone(ann, "#alpha");
    ann.Send("TOPIC #alpha :Rust talk");
    ann.Expect(" TOPIC ");
    for (TestClient* member : {&ann, &bob, &cid})
        JoinDone(*member, "#beta");
    ann.Send("MODE #beta +n");
    ann.Expect(" MODE #beta +n");
    JoinDone(bob, "#secret");
    bob.Send("MODE #secret +s");
    bob.Expect(" MODE ");
    JoinDone(cid, "#private");
    cid.Send("MODE #private +p");
    cid.Expect(" MODE ");

    struct ListCase {
        std::string_view Filter;
        std::set<std::string> Shown;
    };
    const ListCase cases[] = {
        {"", {"#alpha", "#beta"}},   {">2", {"#beta"}},  {"<2", {"#alpha"}},
        {">x", {"#alpha", "#beta"}}, // not a number: more than 0
        {"+RUST", {"#alpha"}},       // in the topic, any case
        {"+BET", {"#beta"}},         // in the name
        {"#a*", {"#alpha"}},         {"ph", {"#alpha"}}, {"crypt", {}},
    };
    for (const ListCase& c : cases) {
        SCOPED_TRACE(std::string(c.Filter));
        ann.Send("LIST " + std::string(c.Filter));
        EXPECT_EQ(AfterSource(ann.ExpectNext(" 321 ")), "321 Ann Channel :Users  Name");
        std::set<std::string> shown;
        for (;;) {
            const std::string line = ann.ExpectNext(" 32");
            if (line.empty() || line.find(" 323 ") != std::string::npos) {
                EXPECT_EQ(AfterSource(line), "323 Ann :" + Text(TextEndOfList));
                break;
            }
            const std::string reply = AfterSource(line);
            if (reply.rfind("322 Ann #alpha ", 0) == 0) {
                EXPECT_EQ(reply, "322 Ann #alpha 1 :Rust talk");
            }
            if (reply.rfind("322 Ann #beta ", 0) == 0) {
                EXPECT_EQ(reply, "322 Ann #beta 3 :[+n] ");
            }
            shown.insert(reply.substr(8, reply.find(' ', 8) - 8));
        }
        EXPECT_EQ(shown, c.Shown);
    }
}

TEST_F(Channels, QuitReachesEachChannelMateOnce)
{
    TestClient ann = Client("Ann");
    TestClient bob = Client("Bob");
    TestClient cid = Client("Cid");
    TestClient dan = Client("Dan");
    for (TestClient* member : {&ann, &bob})
        JoinDone(*member, "#one");
    for (TestClient* member : {&ann, &bob, &cid})
        JoinDone(*member, "#two");
    JoinDone(dan, "#elsewhere");
    for (TestClient* member : {&bob, &cid, &dan})
        member->Sync();
    ann.Send("QUIT :bye now");
    ann.WaitClosed();
    const std::vector<std::string> bobSaw = bob.Sync();
    ASSERT_EQ(CountContaining(bobSaw, " QUIT "), 1);
    EXPECT_EQ(bobSaw[0].substr(0, 10), ":Ann!user@");
    EXPECT_EQ(AfterSource(bobSaw[0]), "QUIT :Quit: bye now");
    EXPECT_EQ(CountContaining(cid.Sync(), " QUIT "), 1);
    EXPECT_EQ(CountContaining(dan.Sync(), " QUIT "), 0);
    // Bob and Cid are still together in #two.
    bob.Send("NAMES #two");
    EXPECT_EQ(AfterSource(bob.ExpectNext(" 353 ")), "353 Bob = #two :Bob Cid");
}

} // namespace
