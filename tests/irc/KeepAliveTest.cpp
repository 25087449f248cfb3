// Time-driven behaviour of connections on a fake clock: the keep-alive round and the flood
// limits. The server runs in this process; clients talk to it over loopback TCP.

#include "server/core/IRCServer.h"
#include "server/core/Langw.h"
#include "server/core/TextIds.h"
#include "support_lib/InProcessServer.h"

#include <gtest/gtest.h>

namespace
{

// With one connection and the default interval of 180 s, the tick runs every 30 s and a visit
// falls on every 7th tick.
constexpr int TicksPerVisit = 7;
constexpr std::int64_t TickMs = 30000;

void AdvanceTicks(InProcessServer& server, int Ticks)
{
    for (int i = 0; i < Ticks; ++i)
        server.Advance(TickMs);
}

TEST(KeepAlive, AnsweredPingsKeepTheConnectionThroughSeveralRounds)
{
    InProcessServer server;
    TestClient ann = server.RegisteredClient("Ann");
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        AdvanceTicks(server, TicksPerVisit);
        ann.Expect("PING :");
        ann.Send("PONG :" + ann.LastPingToken);
        ann.Sync();
    }
    EXPECT_FALSE(ann.Closed());
    EXPECT_EQ(server.Server->ConCount, 1);
}

TEST(KeepAlive, UnansweredPingClosesWithTimeout)
{
    InProcessServer server;
    TestClient ann = server.RegisteredClient("Ann");
    AdvanceTicks(server, TicksPerVisit);
    ann.Expect("PING :");
    AdvanceTicks(server, TicksPerVisit);
    EXPECT_EQ(ann.Expect("ERROR :"), "ERROR :" + GetLangText(TextClosingLink, 0) + " Timeout");
    EXPECT_TRUE(ann.WaitClosed());
    EXPECT_EQ(server.Server->ConCount, 0);
}

TEST(KeepAlive, UnregisteredConnectionIsClosedAtItsThirdVisit)
{
    InProcessServer server;
    TestClient idle = server.Client();
    AdvanceTicks(server, TicksPerVisit); // first visit only arms the check
    AdvanceTicks(server, TicksPerVisit); // second visit pings
    idle.Expect("PING :");
    AdvanceTicks(server, TicksPerVisit); // third visit closes
    idle.Expect(" Timeout");
    EXPECT_TRUE(idle.WaitClosed());
}

struct FloodCase {
    const char* Name;
    std::int64_t GapMs; // between consecutive lines
    int Lines;          // after the line that resets the count
    bool Closed;
};

TEST(FloodLimit, LinesCloserThan1500msCountUp)
{
    // Factor 1 allows three lines in a row within the window; the fourth closes.
    const FloodCase cases[] = {
        {"three quick lines pass", 1499, 3, false},
        {"a fourth quick line closes", 1499, 4, true},
        {"lines exactly 1500 ms apart never count", 1500, 8, false},
    };
    for (const FloodCase& c : cases) {
        SCOPED_TRACE(c.Name);
        InProcessServer server({{GlobalSlot::AutoFloodKill, "1"}});
        TestClient ann = server.RegisteredClient("Ann");
        server.Advance(2000);
        ann.Send("PING :reset");
        ann.Expect("PONG");
        for (int i = 0; i < c.Lines; ++i) {
            server.Advance(c.GapMs);
            ann.Send("PING :x" + std::to_string(i));
            ann.Expect(c.Closed && i == c.Lines - 1 ? "ERROR" : "PONG");
        }
        EXPECT_EQ(ann.WaitClosed(c.Closed ? 2000 : 50), c.Closed);
    }
}

TEST(FloodLimit, WithoutFactorTheHardLimitIs1024)
{
    InProcessServer server;
    TestClient ann = server.RegisteredClient("Ann");
    server.Advance(2000);
    std::string burst = "PING :reset\r\n";
    for (int i = 0; i < 1023; ++i)
        burst += "PING :x\r\n";
    ann.SendRaw(burst);
    ann.Sync(5000); // the barrier is the 1024th quick line: still allowed
    EXPECT_FALSE(ann.Closed());
    ann.Send("PING :one-too-many");
    ann.Expect("ERROR :");
    EXPECT_TRUE(ann.WaitClosed());
}

} // namespace
