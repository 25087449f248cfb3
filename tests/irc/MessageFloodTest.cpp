// The message flood limit of PRIVMSG and NOTICE on a fake clock.

#include "server/core/IRCServer.h"
#include "support_lib/InProcessServer.h"

#include <gtest/gtest.h>

namespace
{

struct MessageFloodCase {
    const char* Name;
    const char* Target;
    std::int64_t GapMs; // between consecutive messages
    int Messages;       // the first one comes after a quiet spell and resets the count
    bool Closed;
};

TEST(MessageFlood, MessagesWithinTwoSecondsCountUp)
{
    // Factor 3: the first message of a burst sets the count to 0, the next three raise it to 3,
    // the fifth passes the limit.
    const MessageFloodCase cases[] = {
        {"four quick messages pass", "Bob", 0, 4, false},
        {"the fifth closes", "Bob", 0, 5, true},
        {"messages two seconds apart never count", "Bob", 2000, 8, false},
        {"OperServ stays reachable", "OperServ", 0, 8, false},
        {"a burst to OperServ in any case", "operSERV", 0, 8, false},
    };
    for (const MessageFloodCase& c : cases) {
        SCOPED_TRACE(c.Name);
        InProcessServer server;
        server.Server->AutoFloodKill = 3;
        TestClient ann = server.RegisteredClient("Ann");
        TestClient bob = server.RegisteredClient("Bob");
        server.Advance(3000);
        const bool toBob = std::string_view(c.Target) == "Bob";
        for (int i = 0; i < c.Messages; ++i) {
            if (i > 0) server.Advance(c.GapMs);
            ann.Send("PRIVMSG " + std::string(c.Target) + " :m" + std::to_string(i));
            if (c.Closed && i == c.Messages - 1) break;
            if (toBob) bob.Expect(":m" + std::to_string(i));
        }
        if (c.Closed) {
            EXPECT_NE(ann.Expect("ERROR :").find(" Flooding"), std::string::npos);
            EXPECT_TRUE(ann.WaitClosed());
            EXPECT_EQ(bob.Sync(), std::vector<std::string>{}); // the fifth was not delivered
        } else {
            ann.Sync();
            EXPECT_FALSE(ann.Closed());
        }
    }
}

} // namespace
