// Saving and loading of registered channels. Only channels registered with ChanServ outlive
// their members; until channel registration exists there is nothing to save or load.

#include "server/channels/IRCChannel.h"
#include "server/irc/IRCConnection.h"

void IRCChannel::SaveChanVals() {}
void IRCChannel::SaveTopic() {}
void IRCChannel::LoadTopic() {}
void IRCChannel::SaveBannlist() {}
void IRCChannel::LoadChanVals() {}
void IRCChannel::LoadBannlist() {}
void IRCConnection::SaveUChanVals(int) {}
void IRCConnection::LoadUChanVals(int) {}
