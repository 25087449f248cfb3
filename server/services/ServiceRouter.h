#pragma once
// The services router: everything a user says to NickServ, ChanServ, MemoServ, OperServ or
// StatServ arrives here, and every service answer leaves through SendServiceNotice.

#include <string>
#include <string_view>

class IRCConnection;

std::string ServiceCommand(std::string_view Text, std::string_view Service, IRCConnection& Conn);
void SendServiceNotice(std::string_view Service, std::string_view Text, IRCConnection& Conn);
