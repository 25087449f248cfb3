#include "server/services/ServiceRouter.h"

#include "server/core/IRCServer.h"
#include "server/irc/IRCConnection.h"

std::string ServiceCommand(std::string_view, std::string_view, IRCConnection&)
{
    return "";
}

void SendServiceNotice(std::string_view Service, std::string_view Text, IRCConnection& Conn)
{
    std::string line;
    line.reserve(Service.size() + Text.size() + Conn.Nick.size() + 40);
    line.append(":").append(Service).append("!services@").append(Conn.bindServer->LHName);
    line.append(" NOTICE ").append(Conn.Nick).append(" :").append(Text);
    Conn.SendLine(line);
}
