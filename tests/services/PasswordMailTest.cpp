// NickServ getpass against a mail relay played by the test on loopback. The server runs in this
// process on the fake clock, so the relay's silence can run into the time-out without waiting.

#include "server/core/IRCServer.h"
#include "server/core/Langw.h"
#include "server/core/TextIds.h"
#include "server/irc/IRCConnection.h"
#include "support_lib/InProcessServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

std::int64_t RealMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The relay end of the mail dialogue. While it waits it keeps the server's loop running.
class FakeRelay
{
public:
    explicit FakeRelay(InProcessServer& Server) : Owner(Server)
    {
        ListenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (bind(ListenFd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(ListenFd, 4) != 0 ||
            getsockname(ListenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            ADD_FAILURE() << "relay cannot listen";
        ListenPort = ntohs(address.sin_port);
    }
    ~FakeRelay()
    {
        Drop();
        if (ListenFd >= 0) close(ListenFd);
    }
    FakeRelay(const FakeRelay&) = delete;
    FakeRelay& operator=(const FakeRelay&) = delete;

    int Port() const { return ListenPort; }

    // Takes the server's next connection.
    bool Accept(int TimeoutMs = 2000)
    {
        Drop();
        const std::int64_t deadline = RealMs() + TimeoutMs;
        while (RealMs() < deadline) {
            Owner.Pump();
            Fd = accept4(ListenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (Fd >= 0) return true;
            pollfd p{ListenFd, POLLIN, 0};
            poll(&p, 1, 1);
        }
        return false;
    }

    // A connection the server has opened and nobody took yet. The server connects while it
    // handles the command, so after a barrier on the asking client it is already waiting here.
    bool HasWaitingConnection()
    {
        Owner.Pump();
        pollfd p{ListenFd, POLLIN, 0};
        return poll(&p, 1, 0) > 0;
    }

    void Send(std::string_view Line)
    {
        const std::string bytes = std::string(Line) + "\r\n";
        if (::send(Fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
            ADD_FAILURE() << "relay cannot send " << Line;
    }

    std::optional<std::string> ReadLine(int TimeoutMs = 2000)
    {
        const std::int64_t deadline = RealMs() + TimeoutMs;
        for (;;) {
            const std::size_t end = Buffer.find("\r\n");
            if (end != std::string::npos) {
                std::string line = Buffer.substr(0, end);
                Buffer.erase(0, end + 2);
                return line;
            }
            if (Fd < 0 || PeerClosed || RealMs() >= deadline) return std::nullopt;
            Owner.Pump();
            pollfd p{Fd, POLLIN, 0};
            if (poll(&p, 1, 1) <= 0) continue;
            char chunk[2048];
            const ssize_t got = recv(Fd, chunk, sizeof(chunk), 0);
            if (got > 0) Buffer.append(chunk, static_cast<std::size_t>(got));
            if (got == 0) PeerClosed = true;
        }
    }

    std::string ExpectLine()
    {
        std::optional<std::string> line = ReadLine();
        if (!line) ADD_FAILURE() << "the relay got no line" << (PeerClosed ? " (closed)" : "");
        return line.value_or("");
    }

    // True when the server closes the relay connection within the timeout.
    bool WaitClosed(int TimeoutMs = 2000)
    {
        const std::int64_t deadline = RealMs() + TimeoutMs;
        while (!PeerClosed && RealMs() < deadline)
            ReadLine(static_cast<int>(deadline - RealMs()));
        return PeerClosed;
    }

    void Drop()
    {
        if (Fd >= 0) close(Fd);
        Fd = -1;
        PeerClosed = false;
        Buffer.clear();
    }

private:
    InProcessServer& Owner;
    int ListenFd = -1;
    int ListenPort = 0;
    int Fd = -1;
    bool PeerClosed = false;
    std::string Buffer;
};

constexpr std::string_view Sender = "irc@example.org";

class PasswordMail : public ::testing::Test
{
protected:
    PasswordMail() { Server.Server->SmtpClient.Port = std::to_string(Relay.Port()); }

    // A registered nick whose owner has left; its password is Nick + "-pw".
    void RegisterNick(std::string_view Nick)
    {
        TestClient owner = Server.RegisteredClient(Nick);
        owner.Send("NS register " + std::string(Nick) + "-pw " + std::string(Nick) + "@example.org");
        owner.Expect(GetLangText(TextIdentified, 0));
        owner.Send("QUIT");
        EXPECT_TRUE(owner.WaitClosed());
    }

    std::string Answer(int TextIndex, std::string_view P1 = "")
    {
        return ":NickServ!services@" + Server.Server->LHName +
               " NOTICE Asker :" + GetLangText(TextIndex, 0, P1);
    }

    // Runs the relay's side of a dialogue that ends in the hand-over of the message; the lines
    // that the relay received after DATA, up to the QUIT that ends the dialogue.
    std::vector<std::string> AcceptMail()
    {
        std::vector<std::string> message;
        if (!Relay.Accept()) {
            ADD_FAILURE() << "the server did not connect to the relay";
            return message;
        }
        Relay.Send("220 relay.test ready");
        EXPECT_EQ(Relay.ExpectLine(), "HELO 127.0.0.1");
        Relay.Send("250 relay.test");
        EXPECT_EQ(Relay.ExpectLine(), "MAIL FROM: <" + std::string(Sender) + ">");
        Relay.Send("250 sender ok");
        const std::string rcpt = Relay.ExpectLine();
        Relay.Send("250 recipient ok");
        EXPECT_EQ(Relay.ExpectLine(), "DATA");
        Relay.Send("354 go ahead");
        message.push_back(rcpt);
        for (;;) {
            std::optional<std::string> line = Relay.ReadLine();
            if (!line) {
                ADD_FAILURE() << "the message did not end with QUIT";
                break;
            }
            message.push_back(*line);
            if (*line == "QUIT") break;
        }
        Relay.Send("250 queued");
        Relay.Send("221 bye");
        Relay.Drop();
        return message;
    }

    InProcessServer Server{
        {{GlobalSlot::SmtpServer, "127.0.0.1"}, {GlobalSlot::FromAdress, std::string(Sender)}}};
    FakeRelay Relay{Server};
};

TEST_F(PasswordMail, DialogueHandsOverTheExactMessage)
{
    RegisterNick("Ann");
    TestClient asker = Server.RegisteredClient("Asker");
    asker.Send("NS getpass Ann");
    EXPECT_EQ(asker.Expect(" NOTICE Asker :"), Answer(TextPasswordMailSent));
    const std::vector<std::string> message = AcceptMail();
    const std::vector<std::string> expected = {
        "RCPT TO: <Ann@example.org>",
        "From: <" + std::string(Sender) + ">",
        "To: <Ann@example.org>",
        "Subject: " + GetLangText(TextPasswordMailSubject, 0, Server.Server->LHName),
        "Date: ",
        "MIME-Version: 1.0",
        "Content-Type: text/plain;",
        "  charset=\"iso-8859-1\"",
        "Content-Transfer-Encoding: 7bit",
        "",
        GetLangText(TextPasswordMailBody, 0, "Ann-pw"),
        ".",
        "QUIT",
    };
    ASSERT_EQ(message.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (expected[i] == "Date: ")
            EXPECT_EQ(message[i].rfind("Date: ", 0), 0u) << message[i];
        else
            EXPECT_EQ(message[i], expected[i]);
    }
}

TEST_F(PasswordMail, SameHostAsksOnceUntilTheOwnerReturns)
{
    RegisterNick("Ann");
    TestClient asker = Server.RegisteredClient("Asker");
    asker.Send("NS getpass Ann");
    EXPECT_EQ(asker.Expect(" NOTICE Asker :"), Answer(TextPasswordMailSent));
    AcceptMail();
    ASSERT_TRUE(Server.PumpUntil([this] { return Server.Server->SmtpClient.State == SmtpConn::Idle; }));
    asker.Send("NS getpass ann");
    EXPECT_EQ(asker.Expect(" NOTICE Asker :"), Answer(TextPasswordMailAskedAlready, "ann"));
    asker.Sync();
    EXPECT_FALSE(Relay.HasWaitingConnection());
    // The owner identifies and leaves: the saved values clear the host, so it may ask again.
    {
        TestClient ann = Server.RegisteredClient("Ann");
        ann.Send("NS identify Ann-pw");
        ann.Expect(GetLangText(TextIdentified, 0));
        ann.Send("QUIT");
        EXPECT_TRUE(ann.WaitClosed());
    }
    asker.Send("NS getpass Ann");
    EXPECT_EQ(asker.Expect(" NOTICE Asker :"), Answer(TextPasswordMailSent));
    EXPECT_EQ(AcceptMail().front(), "RCPT TO: <Ann@example.org>");
}

TEST_F(PasswordMail, RefusalsBeforeAnyMail)
{
    RegisterNick("Ann");
    TestClient asker = Server.RegisteredClient("Asker");
    const struct {
        std::string Command;
        int Text;
    } cases[] = {
        {"NS getpass", TextWrongSyntax},
        {"NS getpass Nobody", TextNoSuchUser},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Command);
        asker.Send(c.Command);
        EXPECT_EQ(asker.Expect(" NOTICE Asker :"), Answer(c.Text));
        asker.Sync();
        EXPECT_FALSE(Relay.HasWaitingConnection());
    }
}

TEST_F(PasswordMail, RefusedRecipientEndsTheDialogueAndFreesTheClient)
{
    RegisterNick("Ann");
    RegisterNick("Bob");
    TestClient asker = Server.RegisteredClient("Asker");
    asker.Send("NS getpass Ann");
    asker.Expect(" NOTICE Asker :");
    ASSERT_TRUE(Relay.Accept());
    Relay.Send("220 relay.test ready");
    EXPECT_EQ(Relay.ExpectLine(), "HELO 127.0.0.1");
    Relay.Send("250 relay.test");
    Relay.ExpectLine();
    Relay.Send("250 sender ok");
    EXPECT_EQ(Relay.ExpectLine(), "RCPT TO: <Ann@example.org>");
    Relay.Send("550 no such mailbox");
    EXPECT_TRUE(Relay.WaitClosed());
    // Idle again: the next request starts a new dialogue at once.
    asker.Send("NS getpass Bob");
    EXPECT_EQ(asker.Expect(" NOTICE Asker :"), Answer(TextPasswordMailSent));
    EXPECT_EQ(AcceptMail().front(), "RCPT TO: <Bob@example.org>");
}

TEST_F(PasswordMail, SilentRelayTimesOutAfterSevenSeconds)
{
    RegisterNick("Ann");
    RegisterNick("Bob");
    TestClient asker = Server.RegisteredClient("Asker");
    asker.Send("NS getpass Ann");
    asker.Expect(" NOTICE Asker :");
    ASSERT_TRUE(Relay.Accept()); // and never a word
    asker.Send("NS getpass Bob");
    EXPECT_EQ(asker.Expect(" NOTICE Asker :"), Answer(TextMailBusy));
    // The first look comes 8 s after the connect; 7 s of silence are then over.
    Server.Advance(7999);
    asker.Send("NS getpass Bob");
    EXPECT_EQ(asker.Expect(" NOTICE Asker :"), Answer(TextMailBusy));
    Server.Advance(1);
    EXPECT_TRUE(Relay.WaitClosed());
    asker.Send("NS getpass Bob");
    EXPECT_EQ(asker.Expect(" NOTICE Asker :"), Answer(TextPasswordMailSent));
    EXPECT_EQ(AcceptMail().front(), "RCPT TO: <Bob@example.org>");
}

} // namespace
