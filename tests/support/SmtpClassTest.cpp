#include "server/support/SmtpClass.h"

#include "common/Clock.h"
#include "net/LoopDriver.h"
#include "server/support/DateTexts.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <string>
#include <vector>

// Weak, so that the real date texts win wherever they are linked in; these tests always give
// the client a date of their own.
__attribute__((weak)) std::string MailDate()
{
    return "Thu, 1 Jan 1970 00:00:00 +0000";
}

namespace
{

// An SMTP relay on loopback, driven by the same loop: it answers each command, records every
// line the client sent (commands and message alike) and closes after QUIT.
class FakeRelay
{
public:
    CSocket Listener;
    CSocket Conn;
    std::vector<std::string> Transcript;
    int Connections = 0;
    int ClosedByClient = 0;
    bool Answering = true; // false: takes the connection and says nothing
    std::string HeloReply = "250 relay.test";
    std::string RcptReply = "250 recipient ok";
    bool CloseAtHelo = false;

    FakeRelay()
    {
        Listener.LocalAddress = "127.0.0.1";
        Listener.LocalPort = 0;
        Listener.Listen();
        Listener.OnConnectionRequest = [this] {
            Conn.Accept(Listener);
            ++Connections;
            Pending.clear();
            InData = false;
            if (Answering) Reply("220 relay.test ready");
        };
        Conn.OnDataArrival = [this] { Read(); };
        Conn.OnClosed = [this] { ++ClosedByClient; };
    }

    void Reply(const std::string& Line) { Conn.SendData(Line + "\r\n"); }

    // The lines between DATA and the final ".", as they came over the wire.
    std::vector<std::string> MessageLines() const
    {
        std::vector<std::string> lines;
        bool inData = false;
        for (const std::string& line : Transcript) {
            if (inData && line == ".") break;
            if (inData) lines.push_back(line);
            if (line == "DATA") inData = true;
        }
        return lines;
    }

private:
    std::string Pending;
    bool InData = false;

    void Read()
    {
        std::string piece;
        while (Conn.Recive(piece) > 0) {
            Pending += piece;
            for (std::size_t end = Pending.find("\r\n"); end != std::string::npos;
                 end = Pending.find("\r\n")) {
                const std::string line = Pending.substr(0, end);
                Pending.erase(0, end + 2);
                Handle(line);
            }
        }
    }

    void Handle(const std::string& Line)
    {
        Transcript.push_back(Line);
        if (!Answering) return;
        if (InData) {
            if (Line != ".") return;
            InData = false;
            Reply("250 queued");
            return;
        }
        const std::string word = Line.substr(0, 4);
        if (word == "HELO" && CloseAtHelo) {
            Conn.Disconnect();
        } else if (word == "HELO") {
            Reply(HeloReply);
        } else if (word == "MAIL") {
            Reply("250 sender ok");
        } else if (word == "RCPT") {
            Reply(RcptReply);
        } else if (word == "DATA") {
            InData = true;
            Reply("354 end with a line holding a dot");
        } else if (word == "QUIT") {
            Reply("221 bye");
            Conn.Disconnect();
        }
    }
};

const std::vector<std::string> GreetingToData = {
    "HELO 127.0.0.1",
    "MAIL FROM: <nickserv@irc.test>",
    "RCPT TO: <ann@example.org>",
    "DATA",
};

class SmtpClassTest : public ::testing::Test
{
protected:
    FakeClock Fake;
    FakeRelay Relay;
    SmtpClass Client;
    std::vector<std::string> Events;

    void SetUp() override
    {
        ASSERT_EQ(Relay.Listener.State, SockState::Listening);
        SetClock(&Fake);
        Client.Server = "127.0.0.1";
        Client.Port = std::to_string(Relay.Listener.LocalPort);
        Client.FromAdress = "nickserv@irc.test";
        Client.MailDateText = [] { return std::string("Sat, 7 Jan 2006 09:05:03 +0100"); };
        Client.OnError = [this](const std::string& Description) { Events.push_back("Error " + Description); };
        Client.OnSendet = [this] { Events.push_back("Sendet"); };
    }
    void TearDown() override { SetClock(nullptr); }

    void SendPasswordMail(std::string_view Text = "Hello Ann,\r\nyour password is secret.")
    {
        Client.Send(Text, "Your password", "ann@example.org");
    }
    // Moves the fake clock and runs whatever timer became due.
    void Advance(std::int64_t Ms)
    {
        Fake.Advance(Ms);
        RunDueTimers();
    }
    bool MailDone()
    {
        return RunLoopUntil([&] {
            return Client.State == SmtpConn::Idle && !Relay.Transcript.empty() &&
                   Relay.Transcript.back() == "QUIT";
        });
    }
};

TEST_F(SmtpClassTest, DeliversOneMailWithTheExactDialogue)
{
    SendPasswordMail();
    EXPECT_EQ(Client.State, SmtpConn::Connecting);
    ASSERT_TRUE(MailDone());
    std::vector<std::string> expected = GreetingToData;
    const std::vector<std::string> message = {
        "From: <nickserv@irc.test>",
        "To: <ann@example.org>",
        "Subject: Your password",
        "Date: Sat, 7 Jan 2006 09:05:03 +0100",
        "MIME-Version: 1.0",
        "Content-Type: text/plain;",
        "  charset=\"iso-8859-1\"",
        "Content-Transfer-Encoding: 7bit",
        "",
        "Hello Ann,",
        "your password is secret.",
        ".",
        "QUIT",
    };
    expected.insert(expected.end(), message.begin(), message.end());
    EXPECT_EQ(Relay.Transcript, expected);
    EXPECT_EQ(Events, (std::vector<std::string>{"Sendet"}));
    EXPECT_EQ(Client.smtpState, SmtpStep::None);
    EXPECT_EQ(Client.ToAdress, "ann@example.org");
    EXPECT_EQ(PendingTimerCount(), 0u); // the relay's close ended the time-out too
}

TEST_F(SmtpClassTest, HyphenatedReplyAdvancesLikeAPlainOne)
{
    Relay.HeloReply = "250-relay.test greets you";
    SendPasswordMail();
    ASSERT_TRUE(MailDone());
    EXPECT_EQ(Events, (std::vector<std::string>{"Sendet"}));
    EXPECT_EQ(Relay.Transcript[1], "MAIL FROM: <nickserv@irc.test>");
    EXPECT_EQ(Client.LastMSG, "bye");
}

TEST_F(SmtpClassTest, RefusedRecipientReportsTheReplyAndGoesIdle)
{
    Relay.RcptReply = "550  No such user here  ";
    SendPasswordMail();
    ASSERT_TRUE(RunLoopUntil([&] { return !Events.empty(); }));
    EXPECT_EQ(Events, (std::vector<std::string>{"Error No such user here"}));
    EXPECT_EQ(Client.State, SmtpConn::Idle);
    EXPECT_EQ(Client.smtpState, SmtpStep::None);
    ASSERT_TRUE(RunLoopUntil([&] { return Relay.ClosedByClient == 1; }));
    EXPECT_EQ(Relay.Transcript.back(), "RCPT TO: <ann@example.org>");

    // The next mail starts a connection of its own.
    Relay.RcptReply = "250 recipient ok";
    Events.clear();
    SendPasswordMail();
    ASSERT_TRUE(MailDone());
    EXPECT_EQ(Relay.Connections, 2);
    EXPECT_EQ(Events, (std::vector<std::string>{"Sendet"}));
}

TEST_F(SmtpClassTest, TimerOfARefusedMailStillRunsOutOnce)
{
    Relay.RcptReply = "554 rejected";
    SendPasswordMail();
    ASSERT_TRUE(RunLoopUntil([&] { return !Events.empty(); }));
    Advance(8000);
    Advance(60000);
    EXPECT_EQ(Events, (std::vector<std::string>{"Error rejected", "Error Time out"}));
    EXPECT_EQ(Client.State, SmtpConn::Idle);
}

TEST_F(SmtpClassTest, SilentRelayTimesOutEightSecondsAfterSend)
{
    Relay.Answering = false;
    SendPasswordMail();
    ASSERT_TRUE(RunLoopUntil([&] { return Client.State == SmtpConn::Connected && Relay.Connections == 1; }));
    Advance(7999);
    EXPECT_TRUE(Events.empty());
    Advance(1);
    EXPECT_EQ(Events, (std::vector<std::string>{"Error Time out"}));
    EXPECT_EQ(Client.State, SmtpConn::Idle);
    EXPECT_EQ(Client.smtpState, SmtpStep::None);
    ASSERT_TRUE(RunLoopUntil([&] { return Relay.ClosedByClient == 1; }));
    Advance(60000);
    EXPECT_EQ(Events.size(), 1u);
}

TEST_F(SmtpClassTest, ReplyPostponesTheTimeOut)
{
    Relay.Answering = false;
    SendPasswordMail();
    ASSERT_TRUE(RunLoopUntil([&] { return Relay.Connections == 1; }));
    Fake.Advance(3000);
    Relay.Reply("220 late greeting");
    ASSERT_TRUE(RunLoopUntil([&] { return !Relay.Transcript.empty(); }));
    Advance(5000); // first look 8 s after Send: only 5 s of silence
    Advance(1999);
    EXPECT_TRUE(Events.empty());
    Advance(1); // looks every 2 s: 7 s of silence now
    EXPECT_EQ(Events, (std::vector<std::string>{"Error Time out"}));
}

TEST_F(SmtpClassTest, WrappedTickCountStartsTheSilenceAfresh)
{
    Fake.UpMs = 0x7FFFFFFF - 1000; // the signed tick count wraps 1 s after Send
    Relay.Answering = false;
    SendPasswordMail();
    ASSERT_TRUE(RunLoopUntil([&] { return Relay.Connections == 1; }));
    Advance(8000); // wrapped: the silence counts from here
    for (int look = 0; look < 3; ++look)
        Advance(2000);
    Advance(1999);
    EXPECT_TRUE(Events.empty());
    Advance(1);
    EXPECT_EQ(Events, (std::vector<std::string>{"Error Time out"}));
}

TEST_F(SmtpClassTest, UnresolvableRelayTimesOut)
{
    Client.Server = "no-such-host.invalid";
    SendPasswordMail();
    RunLoopFor(20);
    EXPECT_TRUE(Events.empty());
    Advance(8000);
    EXPECT_EQ(Events, (std::vector<std::string>{"Error Time out"}));
}

TEST_F(SmtpClassTest, UnreachableRelayReportsServerClosed)
{
    const long port = Relay.Listener.LocalPort;
    Relay.Listener.Disconnect(); // nobody listens there any more
    Client.Port = std::to_string(port);
    SendPasswordMail();
    ASSERT_TRUE(RunLoopUntil([&] { return !Events.empty(); }));
    EXPECT_EQ(Events, (std::vector<std::string>{"Error Server closed"}));
    EXPECT_EQ(Client.State, SmtpConn::Idle);
    EXPECT_EQ(PendingTimerCount(), 0u);
}

TEST_F(SmtpClassTest, RelayClosingEarlyReportsServerClosed)
{
    Relay.CloseAtHelo = true;
    SendPasswordMail();
    ASSERT_TRUE(RunLoopUntil([&] { return !Events.empty(); }));
    EXPECT_EQ(Events, (std::vector<std::string>{"Error Server closed"}));
    EXPECT_EQ(Client.State, SmtpConn::Idle);
    EXPECT_EQ(Client.smtpState, SmtpStep::None);
}

TEST_F(SmtpClassTest, SecondSendWhileBusyIsIgnored)
{
    SendPasswordMail();
    Client.Send("other text", "Other subject", "bob@example.org");
    ASSERT_TRUE(MailDone());
    EXPECT_EQ(Relay.Connections, 1);
    EXPECT_EQ(Relay.Transcript[2], "RCPT TO: <ann@example.org>");
    EXPECT_EQ(Events, (std::vector<std::string>{"Sendet"}));
}

TEST_F(SmtpClassTest, LinesStartingWithADotAreDoubled)
{
    SendPasswordMail(".starts\r\nmiddle . dot\r\n.\r\n..two");
    ASSERT_TRUE(MailDone());
    const std::vector<std::string> lines = Relay.MessageLines();
    ASSERT_GE(lines.size(), 4u);
    const std::vector<std::string> body(lines.end() - 4, lines.end());
    EXPECT_EQ(body, (std::vector<std::string>{"..starts", "middle . dot", "..", "...two"}));
}

TEST_F(SmtpClassTest, LargeMessageIsDeliveredWholeBeforeQuit)
{
    // A small receive window on the relay makes the client's socket refuse part of the message.
    const int small = 8192;
    ASSERT_EQ(setsockopt(Relay.Listener.SocketHandle, SOL_SOCKET, SO_RCVBUF, &small, sizeof small), 0);
    std::string text;
    const int lineCount = 60000;
    for (int i = 0; i < lineCount; ++i)
        text += "line " + std::to_string(i) + std::string(88, '-') + "\r\n";
    text += "end";
    SendPasswordMail(text);
    // State 5 with the dialogue over: the message is only partly handed over.
    ASSERT_TRUE(RunLoopUntil(
        [&] { return Client.smtpState == SmtpStep::None && Client.State == SmtpConn::SendingMessage; },
        5000));
    EXPECT_TRUE(Events.empty());
    ASSERT_TRUE(RunLoopUntil(
        [&] {
            return Client.State == SmtpConn::Idle && Relay.Connections == 1 && !Relay.Transcript.empty() &&
                   Relay.Transcript.back() == "QUIT";
        },
        10000));
    const std::vector<std::string> lines = Relay.MessageLines();
    ASSERT_EQ(lines.size(), 9u + lineCount + 1);
    EXPECT_EQ(lines[9], "line 0" + std::string(88, '-'));
    EXPECT_EQ(lines[9 + lineCount - 1], "line " + std::to_string(lineCount - 1) + std::string(88, '-'));
    EXPECT_EQ(lines.back(), "end");
    EXPECT_EQ(Relay.Transcript[Relay.Transcript.size() - 2], ".");
    EXPECT_EQ(Events, (std::vector<std::string>{"Sendet"}));
}

struct PortCase {
    const char* Port;
    const char* Used;
};
constexpr PortCase PortCases[] = {
    {"0", "25"},
    {"", "25"},
    {"smtp", "25"},
    {"587", "587"},
};

TEST_F(SmtpClassTest, PortThatReadsAsZeroIs25)
{
    for (const PortCase& c : PortCases) {
        SCOPED_TRACE(c.Port);
        Client.Port = c.Port;
        SendPasswordMail();
        EXPECT_EQ(Client.Port, c.Used);
        Client.Cancel();
        EXPECT_EQ(Client.State, SmtpConn::Idle);
    }
    EXPECT_EQ(PendingTimerCount(), 0u);
}

TEST_F(SmtpClassTest, TimerEventForAnotherIdIsIgnored)
{
    Relay.Answering = false;
    SendPasswordMail();
    Fake.Advance(60000);
    Client.TimerEvent(2);
    EXPECT_TRUE(Events.empty());
    EXPECT_EQ(Client.State, SmtpConn::Connecting);
}

} // namespace
