// NickServ: registering the nick in use, identifying for it (or with the login key), taking a
// nick back from whoever holds it, changing, mailing and dropping the password, and the deadline
// for a connection that takes a registered nick without identifying.

#include "server/irc/IRCConnection.h"

#include "common/Text.h"
#include "server/core/IRCServer.h"
#include "server/core/Langw.h"
#include "server/core/TextIds.h"
#include "server/db/ItemValues.h"
#include "server/irc/Numerics.h"
#include "server/services/ServiceRouter.h"

#include <algorithm>

namespace
{

constexpr int IdentifyTimer = 1;
constexpr long IdentifyDeadlineMs = 15000;
// A value holds 32 characters. A longer password would be stored cut and never match again, a
// longer address would send the password mail to a cut, possibly foreign, address.
constexpr std::size_t MaxValueLength = 32;
// The host of the last password mail request is kept with this many characters.
constexpr std::size_t MailHostLength = 30;
// The rank skill that allows registering a channel.
constexpr int SkillRegister = 19;

// What identify found out about the password for the nick in use.
enum class NickStatus { WrongPassword, Right, NotRegistered };

void Answer(IRCConnection& Conn, int TextIndex, std::string_view P1 = "")
{
    SendServiceNotice("NickServ", GetLangText(TextIndex, Conn.Language, P1), Conn);
}

bool IsUsablePassword(std::string_view Password)
{
    return Password.size() > 1 && Password.size() <= MaxValueLength;
}

// Passwords compare exactly; an empty one matches nothing, not even a value that reads empty.
bool PasswordMatches(KvDataBase& DB, std::int32_t ID, std::string_view PassW)
{
    return !PassW.empty() && DB.ReadValue(ID, UserValue::Password) == PassW;
}

int LanguageBySign(std::string_view Sign)
{
    if (Sign.empty()) return 0;
    for (int i = 0; i < LangCount; ++i)
        if (EqualsNoCase(GetLanguageSign(i), Sign)) return i;
    return 0;
}

// A stored operator level; anything that is no level at all gives none.
int StoredOperLevel(std::string_view Text)
{
    const long long level = WholeValue(Text);
    return level >= 0 && level <= 3 ? static_cast<int>(level) : 0;
}

bool IsOperator(const IRCConnection& Conn)
{
    return Conn.ServerOpModes == 1 || Conn.ServerOpModes == 2;
}

// The user asked for OldNick with NICK and was refused because another connection holds it;
// its password gives it back: an identified holder is closed, any other gets a guest nick.
bool TakeBackNick(IRCConnection& Conn, std::string_view PassW)
{
    IRCServer& server = *Conn.bindServer;
    const std::int32_t id = server.DBase.GetUserID(Conn.OldNick);
    if (id <= 0 || !PasswordMatches(server.DBase, id, PassW)) return false;
    IRCConnection* holder = server.FindConnByNick(Conn.OldNick, ConnState::Registered);
    if (holder == nullptr || holder == &Conn) return false;
    const std::string nick = Conn.OldNick;
    if (EqualsNoCase(holder->IdentNick, nick)) {
        holder->CloseConnection(QuitType::NickTaken, "");
    } else {
        holder->AutoRename(holder->Nick, "");
        // In the holder's own language: it is the holder who reads it.
        if (holder->State == ConnState::Registered) Answer(*holder, TextLostNickToOwner, nick);
    }
    Conn.AutoRename(Conn.Nick, nick);
    return true;
}

} // namespace

void NS_Register(IRCConnection& Conn, std::string_view Password, std::string_view EMail)
{
    if (EMail.find('@') == std::string_view::npos || EMail.size() > MaxValueLength ||
        !IsUsablePassword(Password)) {
        Answer(Conn, TextWrongSyntax);
        return;
    }
    KvDataBase& db = Conn.bindServer->DBase;
    const auto created = db.CreateUser(Conn.Nick, Password, EMail, GetLanguageSign(Conn.Language));
    if (created == 1) {
        Answer(Conn, TextNickAlreadyRegistered);
        return;
    }
    if (created != 0) return; // the database has logged why; nothing is registered
    // The first nick ever registered makes its owner the server's administrator.
    bool first = false;
    if (db.UserCount == 1) {
        const std::int32_t id = db.GetUserID(Conn.Nick);
        first = id > 0 && db.WriteValue(id, UserValue::ServerOpModes, "1") == 0;
    }
    db.Sync();
    Answer(Conn, TextNickRegistered);
    if (Conn.State != ConnState::Registered) return;
    if (first) {
        Conn.ServerOpModes = 1;
        Answer(Conn, TextFirstAdministrator);
        if (Conn.State != ConnState::Registered) return;
    }
    if (Conn.IdentNick.empty()) Conn.NS_Identify(Password);
}

void IRCConnection::NS_Identify(std::string_view PassW)
{
    if (!IdentNick.empty() && EqualsNoCase(IdentNick, Nick)) {
        Answer(*this, TextAlreadyIdentified);
        return;
    }
    IRCServer& server = *bindServer;
    KvDataBase& db = server.DBase;
    const std::int32_t id = db.GetUserID(Nick);
    NickStatus status = NickStatus::NotRegistered;
    if (id > 0) status = PasswordMatches(db, id, PassW) ? NickStatus::Right : NickStatus::WrongPassword;
    if (!OldNick.empty() && status != NickStatus::Right && TakeBackNick(*this, PassW))
        status = NickStatus::Right;
    if (State != ConnState::Registered) return;

    // The login key makes an administrator without identifying for any nick.
    if (!PassW.empty() && PassW == server.GlobalKey) {
        ServerOpModes = 1;
        Answer(*this, TextIdentified);
        StopTimer(IdentifyTimer, this);
        return;
    }
    if (status == NickStatus::NotRegistered) {
        Answer(*this, TextIdentifyNotRegistered);
        return;
    }
    if (status == NickStatus::WrongPassword) {
        Answer(*this, TextWrongPassword);
        return;
    }

    // The nick may have changed above, so its item is looked up again.
    const std::int32_t ownID = db.GetUserID(Nick);
    if (ownID <= 0) return;
    IdentNick = Nick;
    StopTimer(IdentifyTimer, this);
    const long long savedState = WholeValue(db.ReadValue(ownID, UserValue::GlobChanMState));
    if (savedState == ChanMState::Busy || savedState == ChanMState::Away)
        SetGlobalChanState(static_cast<int>(savedState), "1");
    if (State != ConnState::Registered) return;
    AwayMsg = db.ReadValue(ownID, UserValue::AwayMsg);
    ServerOpModes = StoredOperLevel(db.ReadValue(ownID, UserValue::ServerOpModes));
    Language = LanguageBySign(db.ReadValue(ownID, UserValue::Language));
    ReloadChanValues();
    if (State != ConnState::Registered) return;
    Answer(*this, TextIdentified);
    if (State != ConnState::Registered) return;
    MS_Recv(false);
}

void IRCConnection::ChangePassword(std::string_view OldPassword, std::string_view NewPassword)
{
    if (OldPassword.empty() || !IsUsablePassword(NewPassword)) {
        Answer(*this, TextWrongSyntax);
        return;
    }
    if (IdentNick.empty()) {
        Answer(*this, TextSetPassNotIdentified);
        return;
    }
    KvDataBase& db = bindServer->DBase;
    const std::int32_t id = db.GetUserID(IdentNick);
    if (id <= 0) return; // dropped meanwhile
    if (!PasswordMatches(db, id, OldPassword)) {
        Answer(*this, TextWrongPassword);
        return;
    }
    if (db.WriteValue(id, UserValue::Password, NewPassword) != 0) return; // logged by the database
    db.Sync();
    Answer(*this, TextPasswordChanged);
}

// Anyone may ask for any nick: the mail only ever goes to the registered address, and each host
// may ask once until the owner comes back.
void IRCConnection::RetrPassword(std::string_view LNick)
{
    if (LNick.empty()) {
        Answer(*this, TextWrongSyntax);
        return;
    }
    IRCServer& server = *bindServer;
    SmtpClass& mail = server.SmtpClient;
    if (mail.Server.empty()) {
        Answer(*this, TextMailNotSetUp);
        return;
    }
    KvDataBase& db = server.DBase;
    const std::int32_t id = db.GetUserID(LNick);
    if (id <= 0) {
        Answer(*this, TextNoSuchUser);
        return;
    }
    const std::string host = Hostname.substr(0, MailHostLength);
    if (db.ReadValue(id, UserValue::PassMailHost) == host) {
        Answer(*this, TextPasswordMailAskedAlready, LNick);
        return;
    }
    if (mail.State != SmtpConn::Idle) {
        Answer(*this, TextMailBusy);
        return;
    }
    if (db.WriteValue(id, UserValue::PassMailHost, host) != 0) return; // logged by the database
    db.Sync();
    mail.Send(GetLangText(TextPasswordMailBody, Language, db.ReadValue(id, UserValue::Password)),
              GetLangText(TextPasswordMailSubject, Language, server.LHName),
              db.ReadValue(id, UserValue::EMail));
    Answer(*this, TextPasswordMailSent);
}

void IRCConnection::NS_Drop(std::string_view DropNick)
{
    const bool own = !IdentNick.empty() && EqualsNoCase(DropNick, IdentNick);
    if (!own && !IsOperator(*this)) {
        SendSM(ERR_NOPRIVILEGES, GetLangText(TextNoPrivileges, Language), "", "");
        return;
    }
    IRCServer& server = *bindServer;
    KvDataBase& db = server.DBase;
    if (db.GetUserID(DropNick) <= 0) {
        Answer(*this, TextDropNickNotRegistered, DropNick);
        return;
    }
    // The database frees the item's lines and its memo chain with the index entry.
    if (db.RemoveUser(DropNick) != 0) return; // logged by the database
    db.Sync();
    // Nobody stays identified for a nick that is gone: a stale identification would carry over to
    // whoever registers the nick next, with the right to drop it or to save into it.
    for (const auto& conn : server.ircConns)
        if (conn->State == ConnState::Registered && EqualsNoCase(conn->IdentNick, DropNick))
            conn->IdentNick.clear();
    Answer(*this, TextDropped, DropNick);
}

void IRCConnection::CheckIfNickIsREged(std::string_view NewNick)
{
    const bool own = !IdentNick.empty() && EqualsNoCase(NewNick, IdentNick);
    if (own || bindServer->DBase.GetUserID(NewNick) <= 0) {
        StopTimer(IdentifyTimer, this);
        return;
    }
    Answer(*this, TextIdentifyWarning);
    if (State == ConnState::Free) return;
    StartTimer(this, IdentifyDeadlineMs, IdentifyTimer);
}

bool IRCConnection::IfUserIsRegisterAble(std::string_view Channel)
{
    for (const ChannelSlot& slot : ChannelSlots)
        if (slot.InUse && EqualsNoCase(slot.Channel->Name, Channel))
            return CheckRang(*slot.Channel, SkillRegister, false);
    return false;
}
