// Channel commands not written yet.
#include "server/channels/IRCChannel.h"
#include "server/core/IRCServer.h"
#include "server/irc/IRCConnection.h"

void IRCChannel::SendModelist(IRCConnection&) {}
std::string IRCChannel::GetModelist(bool) const { return ""; }
bool IRCChannel::IsBanned(const IRCConnection&) const { return false; }
void IRCChannel::SendBannlist(IRCConnection&) {}
void IRCChannel::SetMode(std::string_view, bool, IRCConnection&, std::string_view) {}
void IRCChannel::AddToModeBuffer(IRCConnection&, std::string_view, bool, std::string_view, std::string_view, bool) {}
void IRCChannel::SendModeBuffer(IRCConnection&, std::string_view, bool) {}
bool IRCConnection::SetUserMode(std::string_view, bool, std::string_view) { return false; }
void IRCConnection::KickMe(std::string_view) {}
void IRCConnection::JoinChannel(std::string_view, std::string_view) {}
void IRCConnection::PartChannel(std::string_view) {}
void IRCConnection::SendNames(int, bool) {}
void IRCConnection::ListChannels(std::string_view) {}
void IRCConnection::ModeCommand(const std::vector<std::string>&, int) {}
void IRCConnection::TopicCommand(std::string_view, std::string_view) {}
void IRCConnection::KickCommand(std::string_view, std::string_view, std::string_view) {}
void IRCConnection::SendChatMessage(std::string_view, std::string_view, std::string_view) {}
