// Operator commands and the G-line list.

#include "server/core/IRCServer.h"
#include "server/irc/IRCConnection.h"

// No G-line can be set yet, so nobody is G-lined.
bool IRCServer::IsGLined(const IRCConnection&) const
{
    return false;
}

// SHOWCLONES is written with the other operator commands; until then it answers nothing.
void IRCConnection::CloneList(std::string_view) {}
