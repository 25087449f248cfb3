// StatServ: the client's answer to the version request, the client version query, and the
// channel statistics.

#include "common/Text.h"
#include "server/channels/IRCChannel.h"
#include "server/core/IRCServer.h"
#include "server/core/Langw.h"
#include "server/core/TextIds.h"
#include "server/db/ItemValues.h"
#include "server/irc/IRCConnection.h"
#include "server/irc/Numerics.h"
#include "server/services/ServiceRouter.h"

#include <algorithm>

namespace
{

constexpr std::size_t MaxClientVersion = 32;

} // namespace

// The welcome asks every client for its version in StatServ's name; the answer comes back here
// once. A later answer is an ordinary (unknown) command word.
bool SS_TakeClientVersion(IRCConnection& Conn, const ServiceWords& Words)
{
    if (!EqualsNoCase(std::string_view(Words.Word[1]).substr(0, 8), "\x01VERSION")) return false;
    if (!Conn.ClinentVStr.empty()) return false;
    const std::string version = Words.From(2);
    // The closing byte 1 is dropped with the last character.
    if (version.size() > 1)
        Conn.ClinentVStr = version.substr(0, std::min(version.size() - 1, MaxClientVersion));
    // Only our own client shows busy and away as channel modes.
    if (Conn.ClinentVStr.compare(0, 7, "Korvane") != 0) Conn.AwayChanm = false;
    return true;
}

void SS_ClientVersion(IRCConnection& Conn, std::string_view VNick)
{
    if (Conn.ServerOpModes == 0) {
        Conn.SendSM(ERR_NOPRIVILEGES, GetLangText(TextNoPrivileges, Conn.Language), "", "");
        return;
    }
    IRCServer& server = *Conn.bindServer;
    // "Version: " is a fixed label that programs read, not a sentence to translate.
    const std::string online = server.GetCVersion(VNick);
    if (!online.empty()) {
        SendServiceNotice("StatServ", "Version: " + online, Conn);
        return;
    }
    const std::int32_t id = server.DBase.GetUserID(VNick);
    if (id <= 0) {
        SendServiceNotice("StatServ", GetLangText(TextNoSuchNick, Conn.Language), Conn);
        return;
    }
    SendServiceNotice("StatServ", "Version: " + server.DBase.ReadValue(id, UserValue::ClinentVStr), Conn);
}

// Channel statistics: written with the statistics files; until then nothing is counted or shown.
void IRCServer::CountChanStat(std::string_view, IRCChannel&) {}
void IRCServer::ShowServerStat(IRCConnection&) {}
void IRCServer::SetChanStat(IRCConnection&, std::string_view) {}
