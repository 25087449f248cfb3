// The services router: cutting a text into words, the log form of lines that carry passwords,
// and the choice of the service by name.

#include "server/services/ServiceRouter.h"
#include "server/core/IRCServer.h"
#include "server/core/Langw.h"
#include "server/core/TextIds.h"
#include "server/irc/IRCConnection.h"
#include "support_lib/InProcessServer.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{

struct CutCase {
    std::string_view Text;
    std::vector<std::string_view> Words; // words 1 to Count
    std::string_view FromThree;          // the words from 3 on, joined again
};

const CutCase CutCases[] = {
    {"identify secret", {"identify", "secret"}, ""},
    {"", {""}, ""},
    {"help", {"help"}, ""},
    {"a ", {"a", ""}, ""},
    // The empty words between are joined back with single spaces: three spaces again.
    {"send Bob hello   world", {"send", "Bob", "hello", "", " world"}, "hello   world"},
    // Two spaces after the command: the recipient is empty and the nick starts the text.
    {"send  Bob hello", {"send", "", "Bob", "hello"}, "Bob hello"},
    // Word 5 carries the fifth word and the rest of the line.
    {"a b c d e f g", {"a", "b", "c", "d", "e f g"}, "c d e f g"},
    {"a b  ", {"a", "b", "", ""}, ""},
};

TEST(CutServiceWords, Table)
{
    for (const CutCase& c : CutCases) {
        SCOPED_TRACE("\"" + std::string(c.Text) + "\"");
        const ServiceWords words = CutServiceWords(c.Text);
        ASSERT_EQ(words.Count, static_cast<int>(c.Words.size()));
        for (int i = 1; i <= words.Count; ++i)
            EXPECT_EQ(words.Word[static_cast<std::size_t>(i)], c.Words[static_cast<std::size_t>(i - 1)]) << i;
        for (int i = words.Count + 1; i <= ServiceWords::MaxWords; ++i)
            EXPECT_EQ(words.Word[static_cast<std::size_t>(i)], "") << i;
        EXPECT_EQ(words.From(3), c.FromThree);
    }
}

struct LogCase {
    std::string_view Line;
    std::string_view Logged;
};

const LogCase LogCases[] = {
    {"NS identify secret", "NS identify <hidden>"},
    {"nickserv REGISTER secret ann@example.org", "nickserv REGISTER <hidden>"},
    {"PRIVMSG NickServ :identify secret", "PRIVMSG NickServ :identify <hidden>"},
    {"notice NICKSERV :setpass old new", "notice NICKSERV :setpass <hidden>"},
    {"IDENT secret", "IDENT <hidden>"},
    {"reg secret ann@example.org", "reg <hidden>"},
    {"REREG old new", "REREG <hidden>"},
    {"PASS serverpassword", "PASS <hidden>"},
    {"OS values set pass newpassword", "OS values set pass <hidden>"},
    {"PRIVMSG OperServ :VALUES SET Password new one", "PRIVMSG OperServ :VALUES SET Password <hidden>"},
    // Nothing secret: kept as it is.
    {"NS help", "NS help"},
    {"PRIVMSG NickServ :help", "PRIVMSG NickServ :help"},
    {"PRIVMSG #lobby :identify secret", "PRIVMSG #lobby :identify secret"},
    {"PRIVMSG Ann :identify secret", "PRIVMSG Ann :identify secret"},
    {"JOIN #lobby key", "JOIN #lobby key"},
    {"OS values set name irc.example.org", "OS values set name irc.example.org"},
    {"OS values get pass", "OS values get pass"},
    {"PRIVMSG ns :identify secret", "PRIVMSG ns :identify secret"}, // a user called ns
    {"PASS", "PASS"},
    {"", ""},
};

TEST(HideSecrets, Table)
{
    for (const LogCase& c : LogCases) {
        SCOPED_TRACE(std::string(c.Line));
        EXPECT_EQ(HideSecrets(c.Line), c.Logged);
    }
}

class ServiceNames : public ::testing::Test
{
protected:
    InProcessServer Server;
};

TEST_F(ServiceNames, AnyLetterCaseReachesTheService)
{
    TestClient ann = Server.RegisteredClient("Ann");
    IRCConnection* conn = Server.Server->FindConnByNick("Ann", ConnState::Registered);
    ASSERT_NE(conn, nullptr);
    ServiceCommand("IDENTIFY secret1", "nIcKsErV", *conn);
    const std::string line = ann.Expect(GetLangText(TextIdentifyNotRegistered, 0));
    EXPECT_EQ(line.rfind(":NickServ!services@" + Server.Server->LHName + " NOTICE Ann :", 0), 0u) << line;
}

TEST_F(ServiceNames, AnUnknownServiceIsNotAnswered)
{
    TestClient ann = Server.RegisteredClient("Ann");
    IRCConnection* conn = Server.Server->FindConnByNick("Ann", ConnState::Registered);
    ASSERT_NE(conn, nullptr);
    EXPECT_EQ(ServiceCommand("help", "HelpServ", *conn), "");
    EXPECT_TRUE(ann.Sync().empty());
}

} // namespace
