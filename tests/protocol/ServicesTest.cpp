// The services router over real TCP: help and unknown words of every service, OperServ's notice
// to everybody and reload with their permissions, and StatServ's client versions.

#include "server/core/Langw.h"
#include "server/core/TextIds.h"
#include "support_lib/TestServer.h"

#include <gtest/gtest.h>

namespace
{

// The next line must be a notice from Service to Nick with exactly this text.
void ExpectNotice(TestClient& Client, std::string_view Service, std::string_view Nick,
                  const std::string& Wanted)
{
    const std::string line = Client.ExpectNext(" NOTICE " + std::string(Nick) + " :");
    EXPECT_EQ(line.rfind(":" + std::string(Service) + "!services@", 0), 0u) << line;
    EXPECT_EQ(line.substr(line.find(" :") + 2), Wanted) << line;
}

class Services : public ::testing::Test
{
protected:
    // Ann registers first and so is the administrator.
    TestClient Administrator()
    {
        TestClient ann = Registered("Ann", Server.Port());
        ann.Send("NS register secret1 ann@example.org");
        ann.Expect(Text(TextIdentified));
        return ann;
    }

    TestServer Server;
};

TEST_F(Services, HelpAndUnknownWords)
{
    const struct {
        std::string_view Word; // the dispatcher's word for the service
        std::string_view Service;
        int Help;
        std::string_view Capitals;
    } services[] = {
        {"NS", "NickServ", TextNickServHelp, "NICKSERV"},
        {"CHANSERV", "ChanServ", TextChanServHelp, "CHANSERV"},
        {"ms", "MemoServ", TextMemoServHelp, "MEMOSERV"},
        {"StatServ", "StatServ", TextStatServHelp, "STATSERV"},
        {"OS", "OperServ", TextOperServHelp, "OPERSERV"},
    };
    TestClient bob = Registered("Bob", Server.Port());
    for (const auto& s : services) {
        SCOPED_TRACE(std::string(s.Service));
        bob.Send(std::string(s.Word) + " HeLp");
        ExpectNotice(bob, s.Service, "Bob", Text(s.Help));
        bob.Send(std::string(s.Word) + " bogus words");
        ExpectNotice(bob, s.Service, "Bob", Text(TextUnknownServiceCommand, s.Capitals));
        bob.Send(std::string(s.Word));
        ExpectNotice(bob, s.Service, "Bob", Text(TextUnknownServiceCommand, s.Capitals));
    }
}

TEST_F(Services, OperServValuesWithAnotherWordIsNotAnswered)
{
    TestClient ann = Administrator();
    ann.Send("OS values list");
    EXPECT_TRUE(ann.Sync().empty());
}

TEST_F(Services, NoticeToEverybodyIsForOperatorsOnly)
{
    TestClient ann = Administrator();
    TestClient bob = Registered("Bob", Server.Port());
    bob.Send("OS msg spam for all");
    bob.ExpectNext(" 481 Bob :" + Text(TextNoPrivileges));
    EXPECT_TRUE(ann.Sync().empty());
    ann.Send("OPERSERV msg Server  restart at noon");
    const std::string toBob = bob.ExpectNext(" NOTICE Bob :");
    EXPECT_EQ(toBob.substr(0, toBob.find('@')), ":Global!services");
    EXPECT_EQ(toBob.substr(toBob.find(" :") + 2), "Server  restart at noon");
    EXPECT_NE(ann.ExpectNext(" NOTICE Ann :").find(":Global!services@"), std::string::npos);
}

TEST_F(Services, ReloadIsForTheAdministratorOnly)
{
    TestClient bob = Registered("Bob", Server.Port());
    const std::string forms[] = {"OS refresh", "OS REHASH", "REHASH"};
    for (const std::string& form : forms) {
        SCOPED_TRACE(form);
        bob.Send(form);
        bob.ExpectNext(" 481 Bob :" + Text(TextNoPrivileges));
    }
    TestClient ann = Administrator();
    for (const std::string& form : forms) {
        SCOPED_TRACE(form);
        ann.Send(form);
        ExpectNotice(ann, "OperServ", "Ann", Text(TextReloadStart));
        ExpectNotice(ann, "OperServ", "Ann", Text(TextReloadDone));
    }
}

TEST_F(Services, ClientVersionsOnlineAndSaved)
{
    TestClient ann = Administrator();
    TestClient bob = Registered("Bob", Server.Port());
    bob.Send("SS :\x01VERSION mIRC v6.16 Khaled Mardam-Bey for Windows 95\x01");
    EXPECT_TRUE(bob.Sync().empty());
    // Asked once: a second answer is an unknown word.
    bob.Send("SS :\x01VERSION other\x01");
    ExpectNotice(bob, "StatServ", "Bob", Text(TextUnknownServiceCommand, "STATSERV"));
    bob.Send("CLVERSION Ann");
    bob.ExpectNext(" 481 Bob :" + Text(TextNoPrivileges));

    TestClient carol = Registered("Carol", Server.Port());
    carol.Send("NS register secret3 carol@example.org");
    carol.Expect(Text(TextIdentified));
    carol.Send("SS :\x01VERSION KorvaneChat 2.0\x01");
    carol.Send("QUIT");
    EXPECT_TRUE(carol.WaitClosed());

    const struct {
        std::string Nick;
        std::string Answer;
    } queries[] = {
        {"bob", "Version: mIRC v6.16 Khaled Mardam-Bey for"}, // online, cut to 32 characters
        {"Carol", "Version: KorvaneChat 2.0"},                // saved when she left
        {"Nobody", Text(TextNoSuchNick)},
    };
    for (const auto& q : queries) {
        SCOPED_TRACE(q.Nick);
        ann.Send("SS clientversion " + q.Nick);
        ExpectNotice(ann, "StatServ", "Ann", q.Answer);
    }
}

} // namespace
