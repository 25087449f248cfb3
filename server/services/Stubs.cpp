// Service handlers written with ChanServ, MemoServ and the OperServ server values. Until then
// their commands are routed here and answer nothing.
#include "server/core/IRCServer.h"
#include "server/irc/IRCConnection.h"
#include "server/services/ServiceRouter.h"

void IRCConnection::CS_Drop(std::string_view) {}
void IRCConnection::MS_Send(std::string_view, std::string_view) {}
void IRCConnection::MS_Recv(bool) {}
void CS_Register(IRCConnection&, std::string_view, std::string_view) {}
void CS_SetOwner(IRCConnection&, std::string_view, std::string_view) {}
void ServerValues(IRCConnection&, std::string_view, std::string_view, bool) {}
