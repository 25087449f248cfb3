#include "server/support/SmtpClass.h"

#include "common/Clock.h"
#include "common/Text.h"
#include "server/support/DateTexts.h"

namespace
{

constexpr int TimeoutTimer = 1;
// The first look comes a little after the silence limit, to give the connect its time.
constexpr long FirstCheckMs = 8000;
constexpr long RecheckMs = 2000;
constexpr std::int64_t SilenceLimitMs = 7000;
constexpr std::size_t PieceSize = 1024;
constexpr long DefaultPort = 25;

// The number the text starts with, 0 when it starts with no digit ("250-" reads as 250).
long LeadingNumber(std::string_view Text)
{
    long value = 0;
    for (const char c : Text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + (c - '0');
        if (value > 1'000'000) break; // far beyond any port or reply code
    }
    return value;
}

// A line of the text that starts with a dot gets a second one: the relay takes a line holding
// only "." as the end of the message and strips one leading dot from every other line.
std::string EscapeDots(std::string_view Text)
{
    std::string result;
    result.reserve(Text.size() + 8);
    for (std::size_t i = 0; i < Text.size(); ++i) {
        if (Text[i] == '.' && (i == 0 || Text[i - 1] == '\n')) result += '.';
        result += Text[i];
    }
    return result;
}

} // namespace

SmtpClass::SmtpClass()
{
    MailDateText = [] { return MailDate(); };
    WSock.OnConnected = [this] { WSock_Connected(); };
    WSock.OnDataArrival = [this] { WSock_DataArrival(); };
    WSock.OnSendComplete = [this] { WSock_SendComplete(); };
    WSock.OnClosed = [this] { WSock_Closed(); };
    WSock.OnError = [this](int Number, const std::string& Description) { WSock_Error(Number, Description); };
}

SmtpClass::~SmtpClass()
{
    StopTimer(TimeoutTimer, this);
}

void SmtpClass::Send(std::string_view Text, std::string_view Subject, std::string_view ToAdr)
{
    if (smtpState != SmtpStep::None) return;
    // Between the end of the dialogue and the relay's close the last mail may still be going out;
    // a new session now would cut it off.
    if (State != SmtpConn::Idle) return;
    ToAdress = ToAdr;
    const std::string dateText = MailDateText ? MailDateText() : std::string();
    MailData = "From: <" + FromAdress + ">\r\n";
    MailData += "To: <" + ToAdress + ">\r\n";
    MailData += "Subject: ";
    MailData += Subject;
    MailData += "\r\n";
    MailData += "Date: " + dateText + "\r\n";
    MailData += "MIME-Version: 1.0\r\n";
    MailData += "Content-Type: text/plain;\r\n";
    MailData += "  charset=\"iso-8859-1\"\r\n";
    MailData += "Content-Transfer-Encoding: 7bit\r\n";
    MailData += "\r\n";
    MailData += EscapeDots(Text);
    MailData += "\r\n.\r\n";
    OpenSession();
}

void SmtpClass::OpenSession()
{
    if (WSock.State != SockState::Closed) WSock.Disconnect();
    State = SmtpConn::Connecting;
    Buffer.clear(); // a half line of an earlier session must not prefix the new greeting
    MailSent = 0;
    Delivering = false;
    long port = LeadingNumber(Port);
    if (port == 0) {
        Port = "25";
        port = DefaultPort;
    }
    WSock.Connect(Server, port);
    StartTimer(this, FirstCheckMs, TimeoutTimer);
    LastTS = TickCount();
}

void SmtpClass::WSock_Connected()
{
    State = SmtpConn::Connected;
    smtpState = SmtpStep::None;
}

void SmtpClass::WSock_DataArrival()
{
    LastTS = TickCount();
    std::string piece;
    while (WSock.Recive(piece) > 0) {
        Buffer += piece;
        // One line at a time out of Buffer: a reply may end this session or start another,
        // which empties Buffer under our feet.
        for (std::size_t end = Buffer.find("\r\n"); end != std::string::npos; end = Buffer.find("\r\n")) {
            const std::string line = Buffer.substr(0, end);
            Buffer.erase(0, end + 2);
            HandleReply(line);
        }
    }
}

void SmtpClass::SendCommand(std::string_view Line)
{
    std::string text(Line);
    text += "\r\n";
    WSock.SendData(text);
}

void SmtpClass::HandleReply(std::string_view Line)
{
    const std::size_t space = Line.find(' ');
    const std::string_view codeText = space == std::string_view::npos ? Line : Line.substr(0, space);
    LastMSG = space == std::string_view::npos ? std::string() : std::string(Line.substr(space + 1));
    const long code = LeadingNumber(codeText);

    if (code == 220) {
        SendCommand("HELO " + WSock.RemoteHost);
        smtpState = SmtpStep::HeloSent;
        return;
    }
    if (code == 250) {
        if (smtpState == SmtpStep::HeloSent) {
            smtpState = SmtpStep::MailFromSent;
            SendCommand("MAIL FROM: <" + FromAdress + ">");
        } else if (smtpState == SmtpStep::MailFromSent) {
            SendCommand("RCPT TO: <" + ToAdress + ">");
            smtpState = SmtpStep::RcptToSent;
        } else if (smtpState == SmtpStep::RcptToSent) {
            SendCommand("DATA");
            smtpState = SmtpStep::DataSent;
            State = SmtpConn::SendingMessage;
        }
        return; // the answers to the message and to QUIT come with no step and change nothing
    }
    if (code == 354) {
        if (smtpState != SmtpStep::DataSent) return; // only DATA asks for the message
        smtpState = SmtpStep::None;
        Delivering = true;
        MailSent = 0;
        SendMailData();
        return;
    }
    if (code >= 500 && code <= 1000) {
        if (WSock.State != SockState::Closed) WSock.Disconnect();
        State = SmtpConn::Idle;
        smtpState = SmtpStep::None;
        Delivering = false;
        // Timer 1 goes on: when it next looks, it ends the already ended session once more.
        RaiseError(std::string(TrimSpaces(LastMSG)));
    }
}

void SmtpClass::SendMailData()
{
    LastTS = TickCount();
    while (MailSent < MailData.size()) {
        const std::string_view piece = std::string_view(MailData).substr(MailSent, PieceSize);
        const long taken = WSock.SendData(piece);
        if (taken <= 0) return; // full or broken: OnSendComplete or OnClosed follows
        MailSent += static_cast<std::size_t>(taken);
        if (static_cast<std::size_t>(taken) < piece.size()) return;
    }
    FinishMail();
}

// The whole message is with the socket: only now may QUIT follow it.
void SmtpClass::FinishMail()
{
    Delivering = false;
    SendCommand("QUIT");
    State = SmtpConn::Closing;
    if (OnSendet) OnSendet();
}

void SmtpClass::WSock_SendComplete()
{
    if (!Delivering) return;
    SendMailData();
}

void SmtpClass::TimerEvent(int TimerID)
{
    if (TimerID != TimeoutTimer) return;
    const std::int32_t now = TickCount();
    if (now < LastTS) {
        // The tick count has wrapped: start counting the silence afresh.
        StartTimer(this, RecheckMs, TimeoutTimer);
        LastTS = now;
        return;
    }
    if (static_cast<std::int64_t>(now) < static_cast<std::int64_t>(LastTS) + SilenceLimitMs) {
        StartTimer(this, RecheckMs, TimeoutTimer);
        return;
    }
    if (WSock.State != SockState::Closed) WSock.Disconnect();
    Cancel();
    RaiseError("Time out");
}

void SmtpClass::Cancel()
{
    if (WSock.State > SockState::Closed) WSock.Disconnect();
    smtpState = SmtpStep::None;
    State = SmtpConn::Idle;
    Delivering = false;
    StopTimer(TimeoutTimer, this);
}

void SmtpClass::Quit()
{
    SendCommand("QUIT");
    State = SmtpConn::Closing;
}

void SmtpClass::WSock_Closed()
{
    if (WSock.State != SockState::Closed) WSock.Disconnect();
    StopTimer(TimeoutTimer, this);
    const bool expected = State == SmtpConn::Closing;
    // Idle before the owner hears of it, so its handler may start the next mail.
    State = SmtpConn::Idle;
    smtpState = SmtpStep::None;
    Delivering = false;
    if (!expected) RaiseError("Server closed");
}

// The relay could not be reached: the same end as a relay that closes on us.
void SmtpClass::WSock_Error(int, const std::string&)
{
    StopTimer(TimeoutTimer, this);
    State = SmtpConn::Idle;
    smtpState = SmtpStep::None;
    Delivering = false;
    RaiseError("Server closed");
}

void SmtpClass::RaiseError(const std::string& Description)
{
    if (OnError) OnError(Description);
}
