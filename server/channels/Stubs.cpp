// Channel commands not written yet.
#include "server/channels/IRCChannel.h"
#include "server/core/IRCServer.h"
#include "server/irc/IRCConnection.h"

void IRCConnection::KickMe(std::string_view) {}
void IRCConnection::TopicCommand(std::string_view, std::string_view) {}
void IRCConnection::KickCommand(std::string_view, std::string_view, std::string_view) {}
void IRCConnection::SendChatMessage(std::string_view, std::string_view, std::string_view) {}
