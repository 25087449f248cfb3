// NickServ over real TCP against the real server: registering, identifying, taking a nick back,
// the login key, setpass, drop and getpass without a mail server; what is registered survives a
// restart, and the database file is found consistent after every test.

#include "server/core/IRCServer.h"
#include "server/core/Langw.h"
#include "server/core/TextIds.h"
#include "server/db/ItemValues.h"
#include "server/db/KvDataBase.h"
#include "support_lib/TestServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sys/wait.h>

namespace
{

bool AnyContains(const std::vector<std::string>& Lines, std::string_view Part)
{
    return std::any_of(Lines.begin(), Lines.end(),
                       [Part](const std::string& line) { return line.find(Part) != std::string::npos; });
}

// The next NickServ notice to Nick must carry exactly this text.
void ExpectNotice(TestClient& Client, std::string_view Nick, const std::string& Wanted)
{
    const std::string line = Client.ExpectNext(" NOTICE " + std::string(Nick) + " :");
    EXPECT_EQ(line.rfind(":NickServ!services@", 0), 0u) << line;
    EXPECT_EQ(line.substr(line.find(" :") + 2), Wanted) << line;
}

class NickServ : public ::testing::Test
{
protected:
    void TearDown() override
    {
        Server.Stop();
        const std::string command = std::string(KORV_KDBCHECK_BIN) + " '" + DataBase() + "' > /dev/null";
        const int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "kdbcheck " << DataBase();
    }

    std::string DataBase() { return Server.Dir().File("KorvaneIRCD.kdb"); }

    // Registers the nick in use; its owner is identified at once.
    void RegisterNick(TestClient& Client, std::string_view Nick, std::string_view Password)
    {
        Client.Send("NS register " + std::string(Password) + " " + std::string(Nick) + "@example.org");
        ExpectNotice(Client, Nick, Text(TextNickRegistered));
        Client.Expect(Text(TextIdentified));
    }

    void RegisterAndLeave(std::string_view Nick, std::string_view Password)
    {
        TestClient owner = Registered(Nick, Server.Port());
        RegisterNick(owner, Nick, Password);
        owner.Send("QUIT");
        EXPECT_TRUE(owner.WaitClosed());
    }

    TestServer Server;
};

TEST_F(NickServ, FirstRegistrationMakesTheAdministrator)
{
    TestClient ann = Registered("Ann", Server.Port());
    ann.Send("NS register secret1 ann@example.org");
    ExpectNotice(ann, "Ann", Text(TextNickRegistered));
    ExpectNotice(ann, "Ann", Text(TextFirstAdministrator));
    ExpectNotice(ann, "Ann", Text(TextIdentified));
    TestClient bob = Registered("Bob", Server.Port());
    bob.Send("NS register secret2 bob@example.org");
    ExpectNotice(bob, "Bob", Text(TextNickRegistered));
    ExpectNotice(bob, "Bob", Text(TextIdentified));
    // The administrator may reload the files; the second owner may not.
    ann.Send("OS rehash");
    ann.Expect(Text(TextReloadDone));
    bob.Send("OS rehash");
    bob.ExpectNext(" 481 Bob :" + Text(TextNoPrivileges));
    ann.Send("QUIT");
    bob.Send("QUIT");
    EXPECT_TRUE(ann.WaitClosed());
    EXPECT_TRUE(bob.WaitClosed());
    Server.Stop();
    KvDataBase db;
    ASSERT_TRUE(db.OpenDataBase(DataBase()));
    EXPECT_EQ(db.ReadValue(db.GetUserID("Ann"), UserValue::ServerOpModes), "1");
    EXPECT_EQ(db.ReadValue(db.GetUserID("Bob"), UserValue::ServerOpModes), "0");
    EXPECT_EQ(db.ReadValue(db.GetUserID("Ann"), UserValue::EMail), "ann@example.org");
    db.CloseDataBase();
}

TEST_F(NickServ, RegisterRefusesBadWordsAndCreatesNothing)
{
    const std::string longest(32, 'p');
    const std::string address32 = std::string(20, 'a') + "@example.org"; // 32 characters
    const struct {
        const char* Name;
        std::string Words;
    } cases[] = {
        {"nothing", ""},
        {"no address", "secret1"},
        {"address without @", "secret1 ann.example.org"},
        {"password of one character", "s ann@example.org"},
        {"password of 33 characters", longest + "p ann@example.org"},
        {"address of 33 characters", "secret1 a" + address32},
    };
    TestClient ann = Registered("Ann", Server.Port());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ann.Send("NS register " + c.Words);
        ExpectNotice(ann, "Ann", Text(TextWrongSyntax));
        ann.Send("NS identify secret1");
        ExpectNotice(ann, "Ann", Text(TextIdentifyNotRegistered));
    }
    // The limits themselves are allowed, and such a password matches again.
    ann.Send("NS register " + longest + " " + address32);
    ExpectNotice(ann, "Ann", Text(TextNickRegistered));
    ann.Expect(Text(TextIdentified));
    ann.Send("NS register " + longest + " " + address32);
    ExpectNotice(ann, "Ann", Text(TextNickAlreadyRegistered));
}

TEST_F(NickServ, IdentifyAnswers)
{
    RegisterAndLeave("Ann", "secret1");
    TestClient ann = Registered("Ann", Server.Port());
    EXPECT_TRUE(AnyContains(ann.Seen, Text(TextIdentifyWarning)));
    const struct {
        std::string Password;
        int Answer;
    } steps[] = {
        {"", TextWrongPassword},
        {"Secret1", TextWrongPassword}, // passwords keep their letter case
        {"secret1", TextIdentified},
        {"secret1", TextAlreadyIdentified},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.Password);
        ann.Send("NS identify " + step.Password);
        ExpectNotice(ann, "Ann", Text(step.Answer));
    }
    ann.Send("NICK Zed");
    ann.Expect(" NICK Zed");
    ann.Send("IDENT secret1");
    ExpectNotice(ann, "Zed", Text(TextIdentifyNotRegistered));
}

TEST_F(NickServ, OwnerTakesNickBackFromAnUnidentifiedHolder)
{
    RegisterAndLeave("Ann", "secret1");
    TestClient holder = Registered("Ann", Server.Port());
    TestClient owner = Registered("Ann2", Server.Port());
    owner.Send("NICK Ann");
    owner.ExpectNext(" 433 Ann2 Ann ");
    owner.Send("NS identify secret1");
    owner.ExpectNext(" NICK Ann");
    ExpectNotice(owner, "Ann", Text(TextIdentified));
    const std::string rename = holder.Expect(":Ann!");
    const std::string guest = rename.substr(rename.rfind(' ') + 1);
    EXPECT_EQ(guest.rfind("Guest", 0), 0u) << rename;
    ExpectNotice(holder, guest, Text(TextLostNickToOwner, "Ann"));
    EXPECT_FALSE(holder.Closed());
}

TEST_F(NickServ, OwnerTakesNickBackFromAnIdentifiedHolder)
{
    TestClient holder = Registered("Ann", Server.Port());
    RegisterNick(holder, "Ann", "secret1");
    TestClient owner = Registered("Ann2", Server.Port());
    owner.Send("NICK ann");
    owner.ExpectNext(" 433 Ann2 ann ");
    owner.Send("NS identify secret1");
    owner.ExpectNext(" NICK ann");
    ExpectNotice(owner, "ann", Text(TextIdentified));
    // Quit type 5 sends no error line: the connection just ends.
    EXPECT_TRUE(holder.WaitClosed());
    EXPECT_FALSE(AnyContains(holder.Seen, "ERROR"));
}

TEST_F(NickServ, WrongPasswordTakesNothingBack)
{
    RegisterAndLeave("Ann", "secret1");
    TestClient holder = Registered("Ann", Server.Port());
    TestClient other = Registered("Zed", Server.Port());
    other.Send("NICK Ann");
    other.ExpectNext(" 433 ");
    other.Send("NS identify wrong");
    ExpectNotice(other, "Zed", Text(TextIdentifyNotRegistered));
    EXPECT_FALSE(AnyContains(holder.Sync(), " NICK "));
}

TEST_F(NickServ, LoginKeyMakesAnAdministratorWithoutIdentifying)
{
    RegisterAndLeave("Ann", "secret1");
    TestClient console = Registered("Administration", Server.Port());
    console.Send("NS identify " + Server.LoginLine(2));
    ExpectNotice(console, "Administration", Text(TextIdentified));
    console.Send("OS refresh");
    console.Expect(Text(TextReloadStart));
    console.Expect(Text(TextReloadDone));
    console.Send("NS setpass old new1");
    ExpectNotice(console, "Administration", Text(TextSetPassNotIdentified));
}

TEST_F(NickServ, SetpassRefusalsAndChange)
{
    TestClient stranger = Registered("Zed", Server.Port());
    stranger.Send("NS setpass secret1 secret2");
    ExpectNotice(stranger, "Zed", Text(TextSetPassNotIdentified));
    TestClient ann = Registered("Ann", Server.Port());
    RegisterNick(ann, "Ann", "secret1");
    const struct {
        std::string Words;
        int Answer;
    } steps[] = {
        {"", TextWrongSyntax},
        {"secret1", TextWrongSyntax},
        {"secret1 x", TextWrongSyntax},
        {"secret1 " + std::string(33, 'n'), TextWrongSyntax},
        {"wrong secret2", TextWrongPassword},
        {"secret1 secret2", TextPasswordChanged},
        {"secret1 secret3", TextWrongPassword},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.Words);
        ann.Send("NS setpass " + step.Words);
        ExpectNotice(ann, "Ann", Text(step.Answer));
    }
    ann.Send("REREG secret2 secret3");
    ExpectNotice(ann, "Ann", Text(TextPasswordChanged));
    ann.Send("QUIT");
    EXPECT_TRUE(ann.WaitClosed());
    TestClient again = Registered("Ann", Server.Port());
    again.Send("NS identify secret2");
    ExpectNotice(again, "Ann", Text(TextWrongPassword));
    again.Send("NS identify secret3");
    ExpectNotice(again, "Ann", Text(TextIdentified));
}

TEST_F(NickServ, DropNeedsOwnershipOrAnOperator)
{
    TestClient ann = Registered("Ann", Server.Port()); // the first: administrator
    RegisterNick(ann, "Ann", "secret1");
    TestClient bob = Registered("Bob", Server.Port());
    RegisterNick(bob, "Bob", "secret2");
    bob.Send("NS drop Ann");
    bob.ExpectNext(" 481 Bob :" + Text(TextNoPrivileges));
    bob.Send("NS drop Nobody");
    bob.ExpectNext(" 481 Bob :" + Text(TextNoPrivileges));
    ann.Send("NS drop Nobody");
    ExpectNotice(ann, "Ann", Text(TextDropNickNotRegistered, "Nobody"));
    bob.Send("NS drop bob");
    ExpectNotice(bob, "Bob", Text(TextDropped, "bob"));
    // No longer registered, and no longer identified for it.
    bob.Send("NS setpass secret2 secret3");
    ExpectNotice(bob, "Bob", Text(TextSetPassNotIdentified));
    bob.Send("NS identify secret2");
    ExpectNotice(bob, "Bob", Text(TextIdentifyNotRegistered));
    // Two connections identified for one nick: dropping it leaves neither identified, so neither
    // carries the identification over to the next owner of the name.
    RegisterNick(bob, "Bob", "secret4");
    bob.Send("NICK Bob2");
    bob.Expect(" NICK Bob2");
    TestClient carol = Registered("Carol", Server.Port());
    carol.Send("NICK Bob");
    carol.Expect(Text(TextIdentifyWarning));
    carol.Send("NS identify secret4");
    ExpectNotice(carol, "Bob", Text(TextIdentified));
    ann.Send("NS drop Bob");
    ExpectNotice(ann, "Ann", Text(TextDropped, "Bob"));
    bob.Send("NS setpass secret4 secret5");
    ExpectNotice(bob, "Bob2", Text(TextSetPassNotIdentified));
    carol.Send("NS setpass secret4 secret5");
    ExpectNotice(carol, "Bob", Text(TextSetPassNotIdentified));
    RegisterNick(carol, "Bob", "secret6");
    bob.Send("NS drop Bob");
    bob.ExpectNext(" 481 Bob2 :" + Text(TextNoPrivileges));
}

TEST_F(NickServ, GetpassWithoutMailServer)
{
    RegisterAndLeave("Ann", "secret1");
    TestClient asker = Registered("Zed", Server.Port());
    asker.Send("NS getpass");
    ExpectNotice(asker, "Zed", Text(TextWrongSyntax));
    asker.Send("NS getpass Ann");
    ExpectNotice(asker, "Zed", Text(TextMailNotSetUp));
}

TEST_F(NickServ, RegistrationSurvivesRestart)
{
    RegisterAndLeave("Ann", "secret1");
    Server.Stop();
    Server.Start();
    TestClient ann = Registered("Ann", Server.Port());
    EXPECT_TRUE(AnyContains(ann.Seen, Text(TextIdentifyWarning)));
    ann.Send("NS identify secret1");
    ExpectNotice(ann, "Ann", Text(TextIdentified));
    ann.Send("NS register secret1 ann@example.org");
    ExpectNotice(ann, "Ann", Text(TextNickAlreadyRegistered));
}

TEST(NickServLog, PasswordsAndTheLoginKeyNeverReachTheLog)
{
    TestServer server({{GlobalSlot::Logging, "4"}}); // every received line is logged
    const std::string key = server.LoginLine(2);
    TestClient ann = Registered("Ann", server.Port());
    const std::string commands[] = {
        "NS register Pw4Register ann@example.org",
        "NS identify Pw4Identify",
        "IDENT Pw4Ident",
        "NS setpass Pw4Register Pw4Setpass",
        "REREG Pw4Setpass Pw4Rereg",
        "PRIVMSG NickServ :identify Pw4Privmsg",
        "OS values set pass Pw4Server",
        "NS identify " + key,
    };
    for (const std::string& command : commands)
        ann.Send(command);
    ann.Sync();
    server.Stop();
    const std::string log = server.Dir().Read("KorvaneIRCD.log");
    EXPECT_NE(log.find("NS register"), std::string::npos) << "nothing was logged";
    for (const char* secret : {"Pw4", key.c_str()})
        EXPECT_EQ(log.find(secret), std::string::npos) << secret;
}

} // namespace
