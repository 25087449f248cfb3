// The server object reads its settings from the database's global slots at creation.

#include "server/core/IRCServer.h"
#include "server/irc/IRCConnection.h"
#include "support_lib/InProcessServer.h"

#include <gtest/gtest.h>

namespace {

TEST(ServerSettings, EmptyDatabaseGivesTheDefaults)
{
    InProcessServer server;
    const IRCServer& s = *server.Server;
    EXPECT_EQ(s.NetWorkName, "Korvane");
    EXPECT_TRUE(s.CloseChanIfEmpty);
    EXPECT_TRUE(s.GetClientVersion);
    EXPECT_TRUE(s.AwayChanmode);
    EXPECT_EQ(s.PingInterval, 180);
    EXPECT_EQ(s.Logging, 0);
    EXPECT_EQ(s.MaxAlowedClones, 0);
    EXPECT_FALSE(s.LHName.empty()); // the local host name after the first listen
    EXPECT_NE(s.InstDate, 0);
}

TEST(ServerSettings, SlotsAreReadIntoTheFields)
{
    InProcessServer server({{Slot::NetWorkName, "Testnet"},
                            {Slot::LHName, "irc.test"},
                            {Slot::CloseChanIfEmpty, "0"},
                            {Slot::GetClientVersion, "False"},
                            {Slot::AwayChanmode, "0"},
                            {Slot::PingInterval, "0"},
                            {Slot::AutoFloodKill, "7x"},
                            {Slot::MaxAlowedClones, "3"},
                            {Slot::EveryDayStat, "1"},
                            {Slot::Logging, "2"},
                            {Slot::DefoultLang, "Deutsch"},
                            {Slot::ConnectCount, "41"},
                            {Slot::ServerPassword, "pw"}});
    const IRCServer& s = *server.Server;
    EXPECT_EQ(s.NetWorkName, "Testnet");
    EXPECT_EQ(s.LHName, "irc.test");
    EXPECT_FALSE(s.CloseChanIfEmpty);
    EXPECT_FALSE(s.GetClientVersion);
    EXPECT_FALSE(s.AwayChanmode);
    EXPECT_EQ(s.PingInterval, 180); // 0 means the default
    EXPECT_EQ(s.AutoFloodKill, 7);
    EXPECT_EQ(s.MaxAlowedClones, 3);
    EXPECT_TRUE(s.EveryDayStat);
    EXPECT_EQ(s.Logging, 2);
    EXPECT_EQ(s.DefoultLang, "Deutsch"); // the language setting no longer shares its slot
    EXPECT_EQ(s.ConnectCount, 41);
    EXPECT_EQ(s.ServerPassword, "pw");
}

TEST(ServerSettings, InstallationDateIsWrittenOnFirstStartAndKept)
{
    Date first = 0;
    {
        InProcessServer server;
        first = server.Server->InstDate;
        server.Server->Shutdown();
        // A second server object on the same directory, a day later.
        server.Server.reset();
        server.Clock.Advance(86400 * 1000);
        server.Server = std::make_unique<IRCServer>();
        EXPECT_EQ(server.Server->InstDate, first);
    }
}

TEST(ServerSettings, NewPeakOfUsersIsStored)
{
    InProcessServer server;
    TestClient ann = server.Client();
    TestClient bob = server.Client();
    ann.Send("NICK Ann");
    bob.Send("NICK Bob");
    ASSERT_TRUE(server.PumpUntil([&] { return server.Server->ConCount == 2; }));
    EXPECT_EQ(server.Server->MaxUserCount, 2);
    EXPECT_EQ(server.Server->DBase.GetGlobalVal(Slot::MaxUserCount), "2");
    EXPECT_FALSE(server.Server->DBase.GetGlobalVal(Slot::MaxUserDate).empty());
}

} // namespace
