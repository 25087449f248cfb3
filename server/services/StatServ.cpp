// Channel statistics: counting what is said in channels.

#include "server/channels/IRCChannel.h"
#include "server/core/IRCServer.h"

void IRCServer::CountChanStat(std::string_view, IRCChannel&) {}
