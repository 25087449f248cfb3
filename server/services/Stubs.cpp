// Service operations not written yet.
#include "server/core/IRCServer.h"
#include "server/irc/IRCConnection.h"

void IRCConnection::ChangePassword(std::string_view, std::string_view) {}
void IRCConnection::RetrPassword(std::string_view) {}
void IRCConnection::CheckIfNickIsREged(std::string_view) {}
bool IRCConnection::IfUserIsRegisterAble() const { return false; }
void IRCConnection::NS_Drop(std::string_view) {}
void IRCConnection::NS_Identify(std::string_view) {}
void IRCConnection::CS_Drop(std::string_view) {}
void IRCConnection::MS_Send(std::string_view, std::string_view) {}
void IRCConnection::MS_Recv(std::string_view) {}
