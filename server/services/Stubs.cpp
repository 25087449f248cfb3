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
void IRCConnection::ChangePassword(std::string_view, std::string_view) {}
void IRCConnection::RetrPassword(std::string_view) {}
void IRCConnection::CheckIfNickIsREged(std::string_view) {}
bool IRCConnection::IfUserIsRegisterAble(std::string_view) { return false; }
void IRCConnection::NS_Drop(std::string_view) {}
void IRCConnection::NS_Identify(std::string_view) {}
void NS_Register(IRCConnection&, std::string_view, std::string_view) {}
