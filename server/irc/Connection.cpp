// The life of a connection: accept, reverse lookup, line assembly, the send buffer, the
// keep-alive and the close with its error and QUIT lines.

#include "server/irc/IRCConnection.h"

#include "common/Text.h"
#include "server/core/AppMain.h"
#include "server/core/IRCServer.h"
#include "server/core/Langw.h"
#include "server/core/Masks.h"
#include "server/core/TextIds.h"
#include "server/db/ItemValues.h"
#include "server/support/DateTexts.h"

#include <algorithm>
#include <cmath>

namespace
{

// A client may send at most this much without a line feed: a line of 8192 characters and
// its carriage return. More is closed like an over-long line, so nobody can grow our memory.
constexpr std::size_t MaxPendingLine = 8193;
constexpr std::size_t MaxSendBuffer = 8192;

std::string ThreeDigits(int Number)
{
    std::string text = std::to_string(Number);
    if (Number >= 0 && text.size() < 3) text.insert(0, 3 - text.size(), '0');
    return text;
}

} // namespace

IRCConnection::IRCConnection()
{
    wins.OnDataArrival = [this] { WinS_DataArrival(); };
    wins.OnSendComplete = [this] { wins_SendComplete(); };
    wins.OnClosed = [this] { wins_Closed(); };
    wins.OnError = [this](int Number, const std::string& Description) { wins_Error(Number, Description); };
}

IRCConnection::~IRCConnection()
{
    CloseConnection(QuitType::Destroyed, "");
    StopAllTimers(this);
}

void IRCConnection::Accept(CSocket& Socket)
{
    // A refused clone never runs IntConnection, so what the previous user left must go here.
    Closing = false;
    RecvBuffer.clear();
    SendBuffer.clear();
    wins.Accept(Socket);
    HostIP = wins.RemoteHost;
    if (CheckCloneCount()) {
        CloseConnection(QuitType::Clones, "");
        return;
    }
    IntConnection();
    Out("Accept");
}

bool IRCConnection::CheckCloneCount()
{
    if (bindServer->MaxAlowedClones <= 0) return false;
    int count = 0;
    for (const auto& conn : bindServer->ircConns)
        if (conn->State > ConnState::Free && conn->HostIP == HostIP) ++count;
    return count > bindServer->MaxAlowedClones;
}

void IRCConnection::IntConnection()
{
    IRCServer& server = *bindServer;
    ChannelSlots = {};
    ++server.ConCount;
    if (server.ConCount > server.MaxUserCount) {
        server.MaxUserCount = server.ConCount;
        server.MaxUserDate = Now();
        if (server.DBase.State == 1) {
            server.DBase.SetGlobalVal(GlobalSlot::MaxUserCount, std::to_string(server.MaxUserCount));
            server.DBase.SetGlobalVal(GlobalSlot::MaxUserDate, StoredDateText(server.MaxUserDate));
        }
    }
    Nick.clear();
    UserID.clear();
    RealName.clear();
    Hostname.clear();
    XHostName.clear();
    RecvBuffer.clear();
    SendBuffer.clear();
    OldNick.clear();
    IdentNick.clear();
    AwayMsg.clear();
    ClinentVStr.clear();
    State = ConnState::Resolving;
    PingTime = 0;
    Answered = true;
    PassOK = server.ServerPassword.empty();
    const int language = FindLanguage(server.DefoultLang);
    Language = language < 0 ? 0 : language;
    server.DefoultLang = GetLanguageSign(Language);
    GlobChanMState = ChanMState::None;
    SignOn = Now();
    IdleTime = TickCount() / 1000;
    FloodCount = 0;
    LastLineTick = 0;
    MessageFloodCount = 0;
    ServerOpModes = 0;
    PingArmed = false;
    Params.clear();
    ParamCount = 0;
    QueueLookup(this);
}

void IRCConnection::DnsResEvent(const std::string& RemoteHostName)
{
    if (State == ConnState::Free) return;
    Hostname = RemoteHostName.empty() ? HostIP : RemoteHostName;
    const std::size_t dot = Hostname.find('.');
    if (dot != std::string::npos && dot > 0) {
        XHostName = "n-" + CloakHash(std::string_view(Hostname).substr(0, dot)) + Hostname.substr(dot);
    } else {
        const std::string& server = bindServer->LHName;
        const std::size_t serverDot = server.find('.');
        XHostName = "n-" + CloakHash(Hostname) + "." +
                    (serverDot == std::string::npos ? server : server.substr(serverDot + 1));
    }
    State = ConnState::HostKnown;
    if (!Nick.empty() && !UserID.empty() && PassOK) SendPing();
    Out("DnsResEvent " + RemoteHostName);
}

// ---- Receive path -----------------------------------------------------------------------------

void IRCConnection::WinS_DataArrival()
{
    std::string chunk;
    while (State != ConnState::Free && !Closing) {
        if (wins.Recive(chunk) <= 0) break;
        RecvBuffer += chunk;
        std::size_t start = 0;
        for (;;) {
            const std::size_t lineFeed = RecvBuffer.find('\n', start);
            if (lineFeed == std::string::npos) break;
            std::size_t end = lineFeed;
            if (end > start && RecvBuffer[end - 1] == '\r') --end;
            const std::string line = RecvBuffer.substr(start, end - start);
            start = lineFeed + 1;
            ParseLine(line);
            if (Closing || State == ConnState::Free) return; // the command closed us
        }
        RecvBuffer.erase(0, start);
        if (RecvBuffer.size() > MaxPendingLine) {
            CloseConnection(QuitType::Flooding, "");
            return;
        }
    }
}

// ---- Send path --------------------------------------------------------------------------------

void IRCConnection::SendLine(std::string_view Text)
{
    if (bindServer != nullptr && bindServer->Logging == 4) WriteLog("-> " + uID(0) + " " + std::string(Text));
    if (wins.State != SockState::Connected) return;
    long accepted = 0;
    if (SendBuffer.empty()) {
        std::string line;
        line.reserve(Text.size() + 2);
        line.append(Text).append("\r\n");
        accepted = std::max(0L, wins.SendData(line));
        if (static_cast<std::size_t>(accepted) < line.size())
            SendBuffer.append(line, static_cast<std::size_t>(accepted));
    } else {
        SendBuffer.append(Text).append("\r\n");
    }
    if (SendBuffer.size() > MaxSendBuffer) CloseConnection(QuitType::Error, "Sendbuffer owerflow");
}

void IRCConnection::wins_SendComplete()
{
    while (!SendBuffer.empty()) {
        const long accepted = wins.SendData(SendBuffer);
        if (accepted <= 0) return; // the socket reports again when it can take more
        SendBuffer.erase(0, static_cast<std::size_t>(accepted));
    }
}

// ---- Keep-alive and timers --------------------------------------------------------------------

void IRCConnection::TimerInterval()
{
    if (!PingArmed && State != ConnState::Registered) {
        PingArmed = true;
        return;
    }
    if (Answered) {
        SendPing();
        Answered = false;
        return;
    }
    CloseConnection(QuitType::Timeout, "");
}

void IRCConnection::SendPing()
{
    PingToken = std::floor(SecondsSinceMidnight() * 100);
    SendLine("PING :" + std::to_string(static_cast<std::int64_t>(PingToken)));
}

void IRCConnection::TimerEvent(int TimerID)
{
    if (TimerID != 1 || State != ConnState::Registered) return;
    if (EqualsNoCase(IdentNick, Nick)) return;
    if (bindServer->DBase.State == 1 && bindServer->DBase.GetUserID(Nick) > 0) AutoRename(Nick, "");
}

void IRCConnection::wins_Closed()
{
    CloseConnection(QuitType::PeerClosed, "");
}

void IRCConnection::wins_Error(int, const std::string&)
{
    if (State >= ConnState::HostKnown) CloseConnection(QuitType::Error, "");
}

// ---- Closing ----------------------------------------------------------------------------------

void IRCConnection::CloseConnection(int QuitType, std::string_view QuitMSG)
{
    // A refused clone is closed while its object is still free (State 0) and must still get its
    // error line, so the guard is the closing flag, not State: a send may ask to close again.
    if (Closing) return;
    Closing = true;
    Out("CloseConnection " + std::to_string(QuitType));
    CancelLookup(this);
    IRCServer& server = *bindServer;
    const std::string message(QuitMSG);
    if (server.Logging > 0 && QuitType != QuitType::GLined && QuitType != QuitType::Clones)
        WriteLog(uID(0) + " CLOSE " + HostIP + " " + std::to_string(QuitType) + " :" + message);

    if (wins.State == SockState::Connected) {
        const std::string closing = "ERROR :" + GetLangText(TextClosingLink, Language);
        switch (QuitType) {
        case QuitType::Error:
            SendLine(std::string(TrimRight(closing + " " + message)));
            break;
        case QuitType::Timeout:
            SendLine(closing + " Timeout");
            break;
        case QuitType::Flooding:
            SendLine(closing + " Flooding");
            break;
        case QuitType::Killed:
            SendLine(closing + " " + message);
            break;
        case QuitType::GLined:
            SendLine(":" + server.LHName + " NOTICE " + Nick + " :*** " +
                     GetLangText(TextGLinedNotice, Language, server.NetWorkName));
            SendLine(closing + " " + Nick + "[" + Hostname + "] (" +
                     GetLangText(TextGLinedReason, Language, server.NetWorkName) + ")");
            break;
        case QuitType::Clones:
            SendLine(closing + " " +
                     GetLangText(TextTooManyClones, Language, std::to_string(server.MaxAlowedClones)));
            break;
        default:
            break;
        }
    }

    if (State == ConnState::Registered) {
        server.AddToWhoWas(Nick, UserID, RealName, XHostName);
        server.RemFromWatchList("", *this);
        server.CheckWatchedUser(*this, true);
        std::string quitText;
        switch (QuitType) {
        case QuitType::Error:
            quitText = "QUIT :" + GetLangText(TextQuitError, Language) + "(" + message + ")";
            break;
        case QuitType::Quit:
            quitText = message.empty() ? "QUIT :" + GetLangText(TextQuitNoMessage, Language)
                                       : "QUIT :Quit: " + message;
            break;
        case QuitType::PeerClosed:
            quitText = "QUIT :" + GetLangText(TextQuitPeerClosed, Language);
            break;
        case QuitType::Timeout:
            quitText = "QUIT :" + GetLangText(TextQuitTimeout, Language);
            break;
        case QuitType::Flooding:
            quitText = "QUIT :" + GetLangText(TextQuitFlooding, Language);
            break;
        case QuitType::NickTaken:
            quitText = "QUIT :" + GetLangText(TextQuitNickReclaimed, Language);
            break;
        case QuitType::Killed:
            quitText = "QUIT :" + message;
            break;
        default:
            break;
        }
        if (!quitText.empty()) SendQuitMsg(quitText);
        for (int slot = 0; slot < MaxChannelSlots; ++slot)
            LeaveChannelSlot(slot, true);
        SaveValues();
    }
    StopTimer(1, this);
    if (wins.State > SockState::Closed) {
        // Read what the client still had in flight: closing with unread input resets the
        // connection and could swallow the error line we just sent.
        std::string discard;
        for (int i = 0; i < 16 && wins.Recive(discard) > 0; ++i) {
        }
        wins.Disconnect();
    }
    if (State > ConnState::Free) {
        --server.ConCount;
        State = ConnState::Free;
    }
    server.UnindexNick(*this);
    RecvBuffer.clear();
    SendBuffer.clear();
}

// Each connection that shares at least one channel with the user gets the QUIT once.
void IRCConnection::SendQuitMsg(std::string_view Text)
{
    std::vector<IRCConnection*> receivers;
    for (const ChannelSlot& slot : ChannelSlots) {
        if (!slot.InUse) continue;
        for (IRCConnection* member : slot.Channel->Users)
            if (member->State > ConnState::Free) receivers.push_back(member);
    }
    std::sort(receivers.begin(), receivers.end(),
              [](const IRCConnection* a, const IRCConnection* b) { return a->ConnIndex < b->ConnIndex; });
    receivers.erase(std::unique(receivers.begin(), receivers.end()), receivers.end());
    const std::string line = ":" + uID(0) + " " + std::string(Text);
    for (IRCConnection* receiver : receivers)
        if (receiver->State > ConnState::Free) receiver->SendLine(line);
}

bool IRCConnection::CheckQuitMsg(std::string_view Text, const IRCChannel* ParentChan,
                                 IRCConnection& ParentConn)
{
    for (const ChannelSlot& slot : ChannelSlots) {
        if (!slot.InUse || slot.Channel != ParentChan) continue;
        SendLine(":" + ParentConn.uID(0) + " " + std::string(Text));
        return true;
    }
    return false;
}

void IRCConnection::SaveValues()
{
    KvDataBase& db = bindServer->DBase;
    if (IdentNick.empty() || db.State != 1) return;
    const std::int32_t id = db.GetUserID(IdentNick);
    if (id <= 0) return;
    db.WriteValue(id, UserValue::GlobChanMState, std::to_string(GlobChanMState));
    db.WriteValue(id, UserValue::SaveDate, StoredDateText(Now()));
    db.WriteValue(id, UserValue::AwayMsg, AwayMsg);
    db.WriteValue(id, UserValue::ClinentVStr, ClinentVStr);
    db.WriteValue(id, UserValue::ServerOpModes, std::to_string(ServerOpModes));
    db.WriteValue(id, UserValue::PassMailHost, "");
    db.WriteValue(id, UserValue::Language, GetLanguageSign(Language));
    db.Sync();
}

// ---- Small helpers ----------------------------------------------------------------------------

void IRCConnection::Out(std::string_view)
{
    // A hook for tracing a connection's life while debugging; it does nothing in the product.
}

void IRCConnection::SendSM(int Number, std::string_view Text, std::string_view Parameter1,
                           std::string_view Parameter2)
{
    std::string line;
    line.reserve(64 + Text.size());
    line.append(":").append(bindServer->LHName).append(" ").append(ThreeDigits(Number)).append(" ");
    // Before a nick is chosen, "*" keeps the line well-formed for clients.
    line.append(Nick.empty() ? std::string_view("*") : std::string_view(Nick));
    if (!Parameter1.empty()) line.append(" ").append(Parameter1);
    if (!Parameter2.empty()) line.append(" ").append(Parameter2);
    if (!Text.empty()) line.append(" :").append(Text);
    SendLine(line);
}

std::string IRCConnection::GetUserModeByIndex(int Index) const
{
    switch (Index) {
    case 1:
        return "A";
    case 2:
        return "C";
    case 3:
        return "O";
    default:
        return "";
    }
}

std::string IRCConnection::UserModes() const
{
    std::string modes = GetUserModeByIndex(ServerOpModes) + "wx";
    if (!IdentNick.empty() && EqualsNoCase(IdentNick, Nick)) modes += "r";
    return modes;
}

std::string IRCConnection::UIDN() const
{
    return Nick + "=+" + UserID + "@" + XHostName;
}

std::string IRCConnection::uID(int RealHN) const
{
    return Nick + "!" + UserID + "@" + (RealHN != 0 ? Hostname : XHostName);
}

void IRCConnection::SetNick(std::string_view NewNick)
{
    const std::string oldNick = Nick;
    Nick = std::string(NewNick);
    bindServer->IndexNick(*this, oldNick);
}
