// Registration over real TCP against the real server: line assembly, the registration paths
// and the exact welcome burst.

#include "server/core/IRCServer.h"
#include "server/core/Langw.h"
#include "server/core/TextIds.h"
#include "support_lib/TestServer.h"

#include <gtest/gtest.h>

namespace
{

// Texts as the server will send them: the same language file, loaded here.
class Registration : public ::testing::Test
{
protected:
    TestServer Server;
};

TEST_F(Registration, WelcomeBurstIsExact)
{
    TestClient ann(Server.Port());
    ann.Send("NICK Ann");
    ann.Send("USER ann 0 * :Ann Example");
    ann.Expect("PING :");
    ann.Send("PONG :" + ann.LastPingToken);
    const std::string welcome = ann.ExpectNext(" 001 Ann :");
    // The server's name is the prefix of every line; take it from the first one.
    const std::string name = welcome.substr(1, welcome.find(' ') - 1);
    const std::string head = ":" + name + " ";
    EXPECT_EQ(welcome.substr(0, head.size() + 8), head + "001 Ann ");
    EXPECT_NE(welcome.find(Text(TextWelcome, "Ann!ann@")), std::string::npos) << welcome;
    EXPECT_EQ(ann.ExpectNext(" 002 "), head + "002 Ann :" + Text(TextYourHost, name, KORV_VERSION));
    ann.ExpectNext(" 003 Ann :");
    EXPECT_EQ(ann.ExpectNext(" 004 "), head + "004 Ann " + name + " " + KORV_VERSION + " * byxqaohv");
    EXPECT_EQ(ann.ExpectNext(" 005 "), head +
                                           "005 Ann ELIST=MUT LANGUAGE=1,EN MAXCHANNELS=32 MAXBANS=64 "
                                           "NICKLEN=30 TOPICLEN=512 KICKLEN=256 MAXTARGETS=1 AWAYLEN=32 :" +
                                           Text(TextSupported));
    EXPECT_EQ(ann.ExpectNext(" 005 "), head +
                                           "005 Ann WATCH=120 MODES=8 CHANTYPES=#& PREFIX=(yxqaohv)~&*!@%+ "
                                           "CHANMODES=b,k,psnim NETWORK=Korvane CASEMAPPING=ascii :" +
                                           Text(TextSupported));
    EXPECT_EQ(ann.ExpectNext(" 251 "), head + "251 Ann :" + Text(TextUsersOnline, "1"));
    EXPECT_EQ(ann.ExpectNext(" 254 "), head + "254 Ann 0 :" + Text(TextChannelsFormed, "0"));
    EXPECT_EQ(ann.ExpectNext(" 375 "), head + "375 Ann :" + Text(TextMotdStart, name));
    // The fixture MOTD has two lines and no final line break.
    EXPECT_EQ(ann.ExpectNext(" 372 "),
              head + "372 Ann :-" +
                  Server.Dir().Read("MOTD.txt").substr(0, Server.Dir().Read("MOTD.txt").find("\r\n")));
    ann.ExpectNext(" 372 ");
    EXPECT_EQ(ann.ExpectNext(" 376 "), head + "376 Ann :" + Text(TextMotdEnd));
    EXPECT_EQ(ann.ExpectNext(" MODE "), ":Ann MODE Ann +wx");
    EXPECT_EQ(ann.ExpectNext("VERSION"), ":StatServ!Services@" + name + " PRIVMSG Ann :\x01VERSION\x01");
}

TEST_F(Registration, LinesAreAssembledAcrossReads)
{
    TestClient bob(Server.Port());
    bob.SendRaw("USER bob 0 * :Bob\nNI");
    bob.SendRaw("CK Bob\r");
    bob.SendRaw("\n");
    bob.Expect("PING :");
    bob.SendRaw("PONG :" + bob.LastPingToken + "\n");
    bob.Expect(" 001 Bob ");
    bob.Expect(" 376 Bob ");
    bob.Sync();
    // A lone CR does not end a line; like other control characters it becomes a space.
    bob.SendRaw("PING :x\ry\r\n\r\n");
    EXPECT_NE(bob.Expect(" PONG ").find(" :x y"), std::string::npos);
    // The empty line after it is an unknown (empty) command.
    bob.Expect(" 421 Bob :");
}

TEST_F(Registration, CommandsBeforeRegistrationAreIgnored)
{
    TestClient ann(Server.Port());
    ann.Send("JOIN #lobby");
    ann.Send("PRIVMSG Bob :hi");
    ann.Send("NICK Ann");
    ann.Send("USER ann 0 * :Ann");
    // The first thing the client hears is the registration PING: nothing answered the others.
    ann.ExpectNext("PING :");
}

TEST_F(Registration, WrongRegistrationPongIsIgnored)
{
    TestClient ann(Server.Port());
    ann.Send("NICK Ann");
    ann.Send("USER ann 0 * :Ann");
    ann.Expect("PING :");
    ann.Send("PONG :1");
    ann.Send("PONG :99999999999");
    ann.Send("PONG :" + ann.LastPingToken);
    ann.ExpectNext(" 001 Ann ");
}

TEST_F(Registration, NickRules)
{
    TestClient ann = Registered("Ann", Server.Port());
    struct NickCase {
        std::string Nick;
        bool Accepted;
    };
    const NickCase cases[] = {
        {std::string(30, 'a'), true},
        {std::string(31, 'a'), false},
        {"Nick.Name", false},
        {"ChanServ", false},
        {"nIcKsErV", false},
        {"[Foo]", true},
        {"x-y_z", true},
        {"9lives", true},
        {"a\xA7"
         "b",
         false},
    };
    for (const NickCase& c : cases) {
        SCOPED_TRACE(c.Nick);
        ann.Send("NICK " + c.Nick);
        const std::vector<std::string> lines = ann.Sync();
        ASSERT_EQ(lines.size(), 1u);
        if (c.Accepted) {
            EXPECT_NE(lines[0].find(" NICK " + c.Nick), std::string::npos) << lines[0];
        } else {
            EXPECT_NE(lines[0].find(" 432 "), std::string::npos) << lines[0];
        }
    }
}

TEST_F(Registration, NickInUseAndCaseChange)
{
    TestClient ann = Registered("Ann", Server.Port());
    TestClient bob = Registered("Bob", Server.Port());
    bob.Send("NICK ann");
    EXPECT_NE(bob.Expect(" 433 ").find(" 433 Bob ann :"), std::string::npos);
    ann.Send("NICK ANN"); // a change of letter case only is always free
    ann.ExpectNext(":Ann!user@");
    ann.Send("NICK ANN"); // exactly the current nick: nothing at all
    EXPECT_TRUE(ann.Sync().empty());
}

TEST_F(Registration, PrefixedLineIsUnknownCommand)
{
    TestClient ann = Registered("Ann", Server.Port());
    ann.Send(":Ann PRIVMSG Bob :hi");
    EXPECT_NE(ann.Expect(" 421 ").find(" 421 Ann :Ann :"), std::string::npos);
}

TEST_F(Registration, LanguageAndMyIp)
{
    TestClient ann = Registered("Ann", Server.Port());
    ann.Send("LANGUAGE");
    EXPECT_NE(ann.Expect(" 687 ").find(" 687 Ann * :"), std::string::npos);
    ann.Send("LANGUAGE en");
    EXPECT_NE(ann.Expect(" 687 ").find(" 687 Ann EN :"), std::string::npos);
    ann.Send("LANGUAGE klingon");
    EXPECT_TRUE(ann.Sync().empty());
    ann.Send("MYIP");
    EXPECT_NE(ann.Expect("NOTICE").find(":OperServ!services@"), std::string::npos);
}

TEST(RegistrationPassword, PasswordPaths)
{
    TestServer server({{GlobalSlot::ServerPassword, "s3cret"}});
    {
        TestClient ann(server.Port());
        ann.Send("NICK Ann");
        ann.Send("USER ann 0 * :Ann");
        ann.ExpectNext("NOTICE AUTH :*** " + Text(TextPasswordRequired));
        ann.Send("PASS s3cret");
        ann.Expect("PING :");
        ann.Send("PASS wrong"); // ignored once the password is accepted
        ann.Send("PONG :" + ann.LastPingToken);
        ann.Expect(" 001 Ann ");
    }
    {
        TestClient bob(server.Port());
        bob.Send("PASS S3CRET"); // case matters
        bob.Expect("NOTICE AUTH :*** " + Text(TextWrongServerPassword));
        bob.Expect("ERROR :" + Text(TextClosingLink));
        EXPECT_TRUE(bob.WaitClosed());
    }
}

} // namespace

namespace
{

// Clients that open with capability negotiation get an empty list and still register.
TEST(RegistrationCapabilities, NegotiationIsAnsweredAndDeclined)
{
    TestServer server;
    TestClient ann(server.Port());
    ann.Send("CAP LS 302");
    EXPECT_NE(ann.ExpectNext(" CAP * LS :").size(), 0u);
    ann.Send("NICK Ann");
    ann.Send("CAP REQ :multi-prefix");
    EXPECT_NE(ann.ExpectNext(" CAP Ann NAK :multi-prefix").size(), 0u);
    ann.Send("USER ann 0 * :Ann");
    ann.Expect("PING :");
    ann.Send("CAP END");
    ann.Send("PONG :" + ann.LastPingToken);
    ann.Expect(" 001 Ann ");
}

} // namespace
