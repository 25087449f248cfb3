#pragma once
// The services router: everything a user says to NickServ, ChanServ, MemoServ, OperServ or
// StatServ arrives here, and every service answer leaves through SendServiceNotice.

#include <array>
#include <string>
#include <string_view>

class IRCConnection;

// The result is always empty; callers ignore it.
std::string ServiceCommand(std::string_view Text, std::string_view Service, IRCConnection& Conn);
void SendServiceNotice(std::string_view Service, std::string_view Text, IRCConnection& Conn);

// What a user wrote to a service, cut into at most five words (1 to 5; index 0 is unused).
// The last filled word holds the rest of the text from its own start, spaces included.
struct ServiceWords {
    static constexpr int MaxWords = 5;
    std::array<std::string, MaxWords + 1> Word;
    int Count = 0;
    // Words k to Count joined with single spaces; empty words before the first filled one vanish.
    std::string From(int k) const;
};
ServiceWords CutServiceWords(std::string_view Text);

// A received line fit for the log: what follows a command that carries a password (NickServ
// commands, PASS) is replaced, so that neither passwords nor the login key reach the log file.
std::string HideSecrets(std::string_view Line);

// Router branches, one file per service.
// NickServ.cpp
void NS_Register(IRCConnection& Conn, std::string_view Password, std::string_view EMail);
// OperServ.cpp
void OS_GlobalMsg(IRCConnection& Conn, std::string_view Text);
void OS_Reload(IRCConnection& Conn);
// StatServ.cpp: true when Words was the client's answer to the version request and has been taken.
bool SS_TakeClientVersion(IRCConnection& Conn, const ServiceWords& Words);
void SS_ClientVersion(IRCConnection& Conn, std::string_view VNick);
// Written with ChanServ and the OperServ server values; until then they answer nothing.
void CS_Register(IRCConnection& Conn, std::string_view ChanName, std::string_view Password);
void CS_SetOwner(IRCConnection& Conn, std::string_view ChanName, std::string_view NewOwner);
void ServerValues(IRCConnection& Conn, std::string_view Key, std::string_view Value, bool IsSet);
