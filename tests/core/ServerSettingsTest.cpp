// The server object reads its settings from the database's global slots at creation.

#include "server/core/IRCServer.h"
#include "server/irc/IRCConnection.h"
#include "support_lib/InProcessServer.h"

#include <gtest/gtest.h>

namespace
{

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
    InProcessServer server({{GlobalSlot::NetWorkName, "Testnet"},
                            {GlobalSlot::LHName, "irc.test"},
                            {GlobalSlot::CloseChanIfEmpty, "0"},
                            {GlobalSlot::GetClientVersion, "False"},
                            {GlobalSlot::AwayChanmode, "0"},
                            {GlobalSlot::PingInterval, "0"},
                            {GlobalSlot::AutoFloodKill, "7x"},
                            {GlobalSlot::MaxAlowedClones, "3"},
                            {GlobalSlot::EveryDayStat, "1"},
                            {GlobalSlot::Logging, "2"},
                            {GlobalSlot::DefoultLang, "Deutsch"},
                            {GlobalSlot::ConnectCount, "41"},
                            {GlobalSlot::ServerPassword, "pw"}});
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
    EXPECT_EQ(server.Server->DBase.GetGlobalVal(GlobalSlot::MaxUserCount), "2");
    EXPECT_FALSE(server.Server->DBase.GetGlobalVal(GlobalSlot::MaxUserDate).empty());
}

} // namespace

namespace
{

TEST(ServerSettings, ConnectCountIsWrittenAtMidnight)
{
    const char* oldZone = std::getenv("TZ");
    const std::string saved = oldZone != nullptr ? oldZone : "";
    setenv("TZ", "UTC0", 1);
    tzset();
    {
        InProcessServer server;
        // 23:59:00 of some day.
        server.Clock.Wall = (server.Clock.Wall / 86'400'000) * 86'400'000 + 86'340'000;
        TestClient ann = server.RegisteredClient("Ann");
        EXPECT_EQ(server.Server->ConnectCount, 1);
        server.Advance(30000); // 23:59:30
        EXPECT_EQ(server.Server->DBase.GetGlobalVal(GlobalSlot::ConnectCount), "");
        server.Advance(60000); // 00:00:30 of the next day
        EXPECT_EQ(server.Server->DBase.GetGlobalVal(GlobalSlot::ConnectCount), "1");
    }
    if (oldZone != nullptr) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

} // namespace
