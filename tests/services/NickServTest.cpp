// NickServ with the server in this process: the identify deadline on the fake clock, and what
// identifying restores into the connection.

#include "server/core/IRCServer.h"
#include "server/core/Langw.h"
#include "server/core/TextIds.h"
#include "server/irc/IRCConnection.h"
#include "support_lib/InProcessServer.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace
{

bool AnyContains(const std::vector<std::string>& Lines, std::string_view Text)
{
    return std::any_of(Lines.begin(), Lines.end(),
                       [Text](const std::string& line) { return line.find(Text) != std::string::npos; });
}

// Registers Nick with NickServ and leaves; the nick stays registered with password "secret1".
void RegisterAndLeave(InProcessServer& Server, std::string_view Nick)
{
    TestClient owner = Server.RegisteredClient(Nick);
    owner.Send("NS register secret1 " + std::string(Nick) + "@example.org");
    owner.Expect(GetLangText(TextIdentified, 0));
    owner.Send("QUIT");
    EXPECT_TRUE(owner.WaitClosed());
}

IRCConnection& Connection(InProcessServer& Server, std::string_view Nick)
{
    IRCConnection* conn = Server.Server->FindConnByNick(Nick, ConnState::Registered);
    if (conn == nullptr) throw std::runtime_error("no connection " + std::string(Nick));
    return *conn;
}

struct DeadlineCase {
    const char* Name;
    std::string_view Nick;   // taken at registration
    std::string_view Action; // sent right after the welcome
    bool Warned;             // text 68 at the welcome
    bool Renamed;            // moved to a guest nick after 15 s
};

const DeadlineCase DeadlineCases[] = {
    {"a registered nick left alone", "Ann", "", true, true},
    {"identified in time", "Ann", "NS identify secret1", true, false},
    {"wrong password does not help", "Ann", "NS identify wrong", true, true},
    {"left for a free nick", "Ann", "NICK Other", true, false},
    {"a free nick has no deadline", "Zed", "", false, false},
    {"changed to a registered nick later", "Zed", "NICK Ann", false, true},
};

TEST(IdentifyDeadline, Table)
{
    for (const DeadlineCase& c : DeadlineCases) {
        SCOPED_TRACE(c.Name);
        InProcessServer server;
        RegisterAndLeave(server, "Ann");
        TestClient user = server.RegisteredClient(c.Nick);
        EXPECT_EQ(AnyContains(user.Seen, GetLangText(TextIdentifyWarning, 0)), c.Warned);
        if (!c.Action.empty()) user.Send(c.Action);
        user.Sync();
        server.Advance(14999);
        EXPECT_FALSE(AnyContains(user.Sync(), " NICK "));
        server.Advance(1);
        const std::vector<std::string> lines = user.Sync();
        EXPECT_EQ(AnyContains(lines, " NICK " + GetLangText(TextGuestNick, 0, "")), c.Renamed);
    }
}

TEST(IdentifyDeadline, GuestNickIsFreeAndUnregistered)
{
    InProcessServer server;
    RegisterAndLeave(server, "Ann");
    TestClient user = server.RegisteredClient("Ann");
    server.Advance(15000);
    const std::string line = user.Expect(" NICK ");
    const std::string guest = line.substr(line.rfind(' ') + 1);
    EXPECT_EQ(guest.rfind(GetLangText(TextGuestNick, 0, ""), 0), 0u) << guest;
    EXPECT_EQ(server.Server->DBase.GetUserID(guest), 0);
    EXPECT_EQ(&Connection(server, guest), server.Server->FindConnByNick(guest, ConnState::Registered));
    // The guest nick is free of the deadline: nothing more happens.
    server.Advance(15000);
    EXPECT_FALSE(AnyContains(user.Sync(), " NICK "));
}

TEST(Identify, RestoresAwayMessageLevelAndLanguage)
{
    InProcessServer server;
    server.Dir.Write("Zulu.lng", "languagename: Zulu\r\nlanguagesign: ZU\r\n37 ZU identified\r\n");
    server.Server->RefreshFromFile();
    {
        TestClient ann = server.RegisteredClient("Ann");
        ann.Send("NS register secret1 ann@example.org"); // the first: administrator
        ann.Expect(GetLangText(TextIdentified, 0));
        ann.Send("AWAY :gone fishing");
        ann.Send("LANGUAGE ZU");
        ann.Expect(" 687 ");
        ann.Send("QUIT");
        EXPECT_TRUE(ann.WaitClosed());
    }
    TestClient ann = server.RegisteredClient("Ann");
    IRCConnection& conn = Connection(server, "Ann");
    EXPECT_EQ(conn.ServerOpModes, 0);
    EXPECT_EQ(conn.Language, 0);
    ann.Send("NS identify secret1");
    // The answer already comes in the restored language.
    ann.Expect(":NickServ!services@" + server.Server->LHName + " NOTICE Ann :ZU identified");
    EXPECT_EQ(conn.IdentNick, "Ann");
    EXPECT_EQ(conn.AwayMsg, "gone fishing");
    EXPECT_EQ(conn.ServerOpModes, 1);
    EXPECT_EQ(GetLanguageSign(conn.Language), "ZU");
}

TEST(Identify, LoginKeyMakesAnAdministratorWithoutIdentifying)
{
    InProcessServer server;
    RegisterAndLeave(server, "Ann");
    TestClient console = server.RegisteredClient("Ann");
    console.Send("NS identify " + server.Server->GlobalKey);
    console.Expect(GetLangText(TextIdentified, 0));
    IRCConnection& conn = Connection(server, "Ann");
    EXPECT_EQ(conn.ServerOpModes, 1);
    EXPECT_EQ(conn.IdentNick, "");
    // The key does not stop being the owner's nick: the deadline is stopped, not passed.
    server.Advance(15000);
    EXPECT_FALSE(AnyContains(console.Sync(), " NICK "));
}

struct VersionCase {
    const char* Name;
    std::string Answer; // what the client sends to StatServ
    std::string Stored; // ClinentVStr afterwards
    bool AwayChanm;     // status changes still shown as channel modes
};

TEST(StatServ, TakesTheVersionAnswerOnce)
{
    const VersionCase cases[] = {
        {"another client", "\x01VERSION mIRC v6.16\x01", "mIRC v6.16", false},
        {"our own client", "\x01VERSION KorvaneChat 1.2\x01", "KorvaneChat 1.2", true},
        {"cut to 32 characters", "\x01VERSION " + std::string(40, 'v') + "\x01", std::string(32, 'v'), false},
        {"no text after the keyword", "\x01VERSION\x01", "", false},
    };
    for (const VersionCase& c : cases) {
        SCOPED_TRACE(c.Name);
        InProcessServer server;
        TestClient bob = server.RegisteredClient("Bob");
        IRCConnection& conn = Connection(server, "Bob");
        EXPECT_TRUE(conn.AwayChanm);
        bob.Send("SS :" + c.Answer);
        EXPECT_TRUE(bob.Sync().empty()); // taken without an answer
        EXPECT_EQ(conn.ClinentVStr, c.Stored);
        EXPECT_EQ(conn.AwayChanm, c.AwayChanm);
    }
}

} // namespace
