// Channel commands not written yet.
#include "server/channels/IRCChannel.h"
#include "server/core/IRCServer.h"
#include "server/irc/IRCConnection.h"

void IRCConnection::SendChatMessage(std::string_view, std::string_view, std::string_view) {}
