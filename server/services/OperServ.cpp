// OperServ's own commands: the notice to every user and the reload of the files. Its other
// words (showclones, set, values) go to handlers that check the operator level themselves.

#include "server/core/IRCServer.h"
#include "server/core/Langw.h"
#include "server/core/TextIds.h"
#include "server/irc/IRCConnection.h"
#include "server/irc/Numerics.h"
#include "server/services/ServiceRouter.h"

namespace
{

void RefuseNoPrivileges(IRCConnection& Conn)
{
    Conn.SendSM(ERR_NOPRIVILEGES, GetLangText(TextNoPrivileges, Conn.Language), "", "");
}

} // namespace

// A notice to every user is an operator's tool: open to all, anyone could flood the whole server.
void OS_GlobalMsg(IRCConnection& Conn, std::string_view Text)
{
    if (Conn.ServerOpModes != 1 && Conn.ServerOpModes != 2) {
        RefuseNoPrivileges(Conn);
        return;
    }
    Conn.bindServer->SendGlobalMsg(Text, nullptr);
}

void OS_Reload(IRCConnection& Conn)
{
    if (Conn.ServerOpModes != 1) {
        RefuseNoPrivileges(Conn);
        return;
    }
    SendServiceNotice("OperServ", GetLangText(TextReloadStart, Conn.Language), Conn);
    if (Conn.State != ConnState::Registered) return;
    Conn.bindServer->RefreshFromFile();
    SendServiceNotice("OperServ", GetLangText(TextReloadDone, Conn.Language), Conn);
}
