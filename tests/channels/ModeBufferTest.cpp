// The mode buffer: changes gathered into MODE lines of at most eight letters, sent from the
// user or from the channel name, with one refusal and one unknown-letter reply per flush.

#include "server/channels/IRCChannel.h"
#include "server/core/IRCServer.h"
#include "server/core/Langw.h"
#include "server/core/TextIds.h"
#include "server/irc/IRCConnection.h"
#include "support_lib/InProcessServer.h"

#include <gtest/gtest.h>

namespace
{

class ModeBuffer : public ::testing::Test
{
protected:
    ModeBuffer()
    {
        for (TestClient* member : {&Ann, &Bob}) {
            member->Send("JOIN #buf");
            member->Expect(" 366 ");
        }
        Ann.Sync();
    }
    InProcessServer Server;
    TestClient Ann = Server.RegisteredClient("Ann");
    TestClient Bob = Server.RegisteredClient("Bob");
    // Found after the joins of the constructor.
    IRCChannel& Chan() { return *Server.Server->FindOpenChannel("#buf"); }
    IRCConnection& AnnConn() { return *Server.Server->FindConnByNick("Ann", ConnState::Registered); }
};

TEST_F(ModeBuffer, ChannelNameAsSourceAndNotToTheSender)
{
    Chan().AddToModeBuffer(AnnConn(), "v", false, "Ann", "#buf", true);
    Chan().AddToModeBuffer(AnnConn(), "o", false, "Ann", "#buf", true);
    Chan().SendModeBuffer(AnnConn(), "#buf", true);
    EXPECT_EQ(Bob.ExpectNext(" MODE "), ":#buf MODE #buf +vo Ann Ann");
    EXPECT_EQ(Ann.Sync(), std::vector<std::string>{});
    // Empty buffer: nothing goes out.
    Chan().SendModeBuffer(AnnConn(), "#buf", false);
    EXPECT_EQ(Bob.Sync(), std::vector<std::string>{});
}

TEST_F(ModeBuffer, TheEighthLetterSendsTheLineAndSignsFollowTheDirection)
{
    const std::pair<const char*, bool> changes[] = {{"v", false}, {"v", false}, {"o", true}, {"o", true},
                                                    {"h", false}, {"h", false}, {"a", true}, {"a", true}};
    int parameter = 0;
    for (const auto& [mode, remove] : changes)
        Chan().AddToModeBuffer(AnnConn(), mode, remove, std::to_string(++parameter), "", false);
    const std::string full = Bob.ExpectNext(" MODE ");
    EXPECT_EQ(full.substr(full.find(" MODE ")), " MODE #buf +vv-oo+hh-aa 1 2 3 4 5 6 7 8");
    EXPECT_EQ(full.substr(0, 10), ":Ann!user@");
    Chan().AddToModeBuffer(AnnConn(), "q", true, "9", "", false);
    Chan().AddToModeBuffer(AnnConn(), "t", true, "", "", false);
    EXPECT_EQ(Bob.Sync(), std::vector<std::string>{}); // waits for the flush
    Chan().SendModeBuffer(AnnConn(), "", false);
    const std::string rest = Bob.ExpectNext(" MODE ");
    EXPECT_EQ(rest.substr(rest.find(" MODE ")), " MODE #buf -qt 9");
}

TEST_F(ModeBuffer, RefusalsAndUnknownLettersAreAnsweredOnceAtTheFlush)
{
    IRCConnection& bobConn = *Server.Server->FindConnByNick("Bob", ConnState::Registered);
    for (const char* mode : {"m", "z", "n", "x", "W"})
        Chan().SetMode(mode, false, bobConn, "");
    EXPECT_EQ(Bob.Sync(), std::vector<std::string>{});
    Chan().SendModeBuffer(bobConn, "", false);
    const std::vector<std::string> lines = Bob.Sync();
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_NE(lines[0].find(" 482 Bob #buf :" + GetLangText(TextNoChannelRights, 0)), std::string::npos);
    EXPECT_NE(lines[1].find(" 472 Bob zxW :" + GetLangText(TextBusyAwayNotModes, 0)), std::string::npos);
    Chan().SendModeBuffer(bobConn, "", false); // both were reset
    EXPECT_EQ(Bob.Sync(), std::vector<std::string>{});
}

} // namespace
