// The watch list and the WHOWAS history. The connection life cycle reports arrivals, nick
// changes and departures here; the lists themselves are kept by the commands that show them.

#include "server/core/IRCServer.h"
#include "server/irc/IRCConnection.h"

void IRCServer::AddToWatchList(std::string_view, IRCConnection&) {}
void IRCServer::RemFromWatchList(std::string_view, IRCConnection&) {}
void IRCServer::CheckWatchedUser(IRCConnection&, bool) {}
void IRCServer::GetOnlineWatchList(IRCConnection&) {}
void IRCServer::AddToWhoWas(std::string_view, std::string_view, std::string_view, std::string_view) {}
