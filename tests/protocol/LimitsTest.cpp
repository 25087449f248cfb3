// Length, flood and clone limits, and malformed input, over real TCP against the real server.

#include "server/core/IRCServer.h"
#include "server/core/Langw.h"
#include "server/core/TextIds.h"
#include "support_lib/TestServer.h"

#include <gtest/gtest.h>

namespace
{

class Limits : public ::testing::Test
{
protected:
    TestServer Server;
};

TEST_F(Limits, LineOf8192IsProcessedAnd8193Closes)
{
    TestClient ann = Registered("Ann", Server.Port());
    const std::string head = "PING :";
    ann.Send(head + std::string(8192 - head.size(), 'a'));
    EXPECT_NE(ann.Expect(" PONG ").find(std::string(100, 'a')), std::string::npos);
    ann.Send(head + std::string(8193 - head.size(), 'a'));
    EXPECT_NE(ann.Expect("ERROR :").find(" Flooding"), std::string::npos);
    EXPECT_TRUE(ann.WaitClosed());
}

TEST_F(Limits, EndlessLineWithoutLineFeedCloses)
{
    TestClient ann = Registered("Ann", Server.Port());
    ann.SendRaw(std::string(20000, 'x'));
    EXPECT_NE(ann.Expect("ERROR :").find(" Flooding"), std::string::npos);
    EXPECT_TRUE(ann.WaitClosed());
}

TEST_F(Limits, MalformedInputNeverHurtsTheServer)
{
    TestClient ann = Registered("Ann", Server.Port());
    std::string tokens = "PRIVMSG";
    for (int i = 0; i < 300; ++i)
        tokens += " t" + std::to_string(i);
    const std::string inputs[] = {
        "\r\n",
        "\r\r\r\n",
        std::string("\0\x01\x02\x03\xff\xfe binary\r\n", sizeof("\0\x01\x02\x03\xff\xfe binary\r\n") - 1),
        ":\r\n",
        ": : : :\r\n",
        ":prefix.only\r\n",
        tokens + "\r\n",
        "MODE\r\nJOIN\r\nJOIN ,,,,\r\nPART\r\nKICK\r\nTOPIC\r\nNICK\r\nNICK :\r\nUSER\r\nPASS\r\nPONG\r\n",
        "PRIVMSG\r\nPRIVMSG :\r\nNOTICE x\r\nNS\r\nOS\r\nCS\r\nMS\r\nWATCH +\r\nLANGUAGE\r\nNAMES\r\n",
    };
    for (const std::string& input : inputs)
        ann.SendRaw(input);
    ann.Sync(5000);
    // Another client still registers: the server is alive and well.
    TestClient bob = Registered("Bob", Server.Port());
    EXPECT_FALSE(bob.Closed());
}

TEST(LimitsFlood, BurstBeyondTheFloodFactorCloses)
{
    TestServer server({{GlobalSlot::AutoFloodKill, "5"}});
    TestClient ann = Registered("Ann", server.Port());
    std::string burst;
    for (int i = 0; i < 40; ++i)
        burst += "PING :x\r\n";
    ann.SendRaw(burst);
    EXPECT_NE(ann.Expect("ERROR :").find(" Flooding"), std::string::npos);
    EXPECT_TRUE(ann.WaitClosed());
}

TEST(LimitsClones, FourthConnectionFromOneAddressIsRefused)
{
    TestServer server({{GlobalSlot::MaxAlowedClones, "2"}});
    TestClient first = Registered("One", server.Port());
    TestClient second = Registered("Two", server.Port());
    TestClient third = Registered("Three", server.Port());
    TestClient fourth(server.Port());
    EXPECT_EQ(fourth.ExpectNext("ERROR :"),
              "ERROR :" + Text(TextClosingLink) + " " + Text(TextTooManyClones, "2"));
    EXPECT_TRUE(fourth.WaitClosed());
    // The refused one took no place: after one leaves, a new one is welcome again.
    third.Send("QUIT :bye");
    EXPECT_TRUE(third.WaitClosed());
    TestClient again = Registered("Again", server.Port());
    EXPECT_FALSE(again.Closed());
}

TEST_F(Limits, QuitClosesWithoutErrorLine)
{
    TestClient ann = Registered("Ann", Server.Port());
    ann.Send("QUIT :see you");
    EXPECT_TRUE(ann.WaitClosed());
    for (const std::string& line : ann.Seen)
        EXPECT_EQ(line.find("ERROR"), std::string::npos) << line;
}

} // namespace
