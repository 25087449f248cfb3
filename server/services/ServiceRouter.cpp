// The services router: cuts what a user wrote to a service into words, picks the service by
// name and the command by the first word, and hands over to the service's handler.

#include "server/services/ServiceRouter.h"

#include "common/Text.h"
#include "server/core/IRCServer.h"
#include "server/core/Langw.h"
#include "server/core/Masks.h"
#include "server/core/TextIds.h"
#include "server/irc/IRCConnection.h"

#include <span>

namespace
{

using ServiceAction = void (*)(IRCConnection&, const ServiceWords&);

struct ServiceEntry {
    std::string_view Word; // lower case
    ServiceAction Action;
};

struct ServiceTable {
    std::string_view Key;      // the name lower-cased, as it is looked up
    std::string_view Shown;    // the sender of its notices
    std::string_view Capitals; // in the text for an unknown command word
    std::span<const ServiceEntry> Commands;
    // Runs before the command words; true when it has taken the text.
    bool (*Before)(IRCConnection&, const ServiceWords&) = nullptr;
};

void Answer(IRCConnection& Conn, std::string_view Shown, int TextIndex)
{
    SendServiceNotice(Shown, GetLangText(TextIndex, Conn.Language), Conn);
}

const ServiceEntry NickServCommands[] = {
    {"register", [](IRCConnection& c, const ServiceWords& w) { NS_Register(c, w.Word[2], w.Word[3]); }},
    {"setpass", [](IRCConnection& c, const ServiceWords& w) { c.ChangePassword(w.Word[2], w.Word[3]); }},
    {"getpass", [](IRCConnection& c, const ServiceWords& w) { c.RetrPassword(w.Word[2]); }},
    {"identify", [](IRCConnection& c, const ServiceWords& w) { c.NS_Identify(w.Word[2]); }},
    {"drop", [](IRCConnection& c, const ServiceWords& w) { c.NS_Drop(w.Word[2]); }},
    {"help", [](IRCConnection& c, const ServiceWords&) { Answer(c, "NickServ", TextNickServHelp); }},
};

const ServiceEntry ChanServCommands[] = {
    {"register", [](IRCConnection& c, const ServiceWords& w) { CS_Register(c, w.Word[2], w.Word[3]); }},
    {"drop", [](IRCConnection& c, const ServiceWords& w) { c.CS_Drop(w.Word[2]); }},
    {"setowner", [](IRCConnection& c, const ServiceWords& w) { CS_SetOwner(c, w.Word[2], w.Word[3]); }},
    {"help", [](IRCConnection& c, const ServiceWords&) { Answer(c, "ChanServ", TextChanServHelp); }},
};

const ServiceEntry MemoServCommands[] = {
    {"send", [](IRCConnection& c, const ServiceWords& w) { c.MS_Send(w.Word[2], w.From(3)); }},
    {"recv", [](IRCConnection& c, const ServiceWords&) { c.MS_Recv(true); }},
    {"help", [](IRCConnection& c, const ServiceWords&) { Answer(c, "MemoServ", TextMemoServHelp); }},
};

const ServiceEntry StatServCommands[] = {
    {"list", [](IRCConnection& c, const ServiceWords&) { c.bindServer->ShowServerStat(c); }},
    {"chanstat", [](IRCConnection& c, const ServiceWords& w) { c.bindServer->SetChanStat(c, w.Word[2]); }},
    {"help", [](IRCConnection& c, const ServiceWords&) { Answer(c, "StatServ", TextStatServHelp); }},
    {"clientversion", [](IRCConnection& c, const ServiceWords& w) { SS_ClientVersion(c, w.Word[2]); }},
};

// The handlers of showclones, set and values check the operator level themselves.
const ServiceEntry OperServCommands[] = {
    {"help", [](IRCConnection& c, const ServiceWords&) { Answer(c, "OperServ", TextOperServHelp); }},
    {"showclones", [](IRCConnection& c, const ServiceWords& w) { c.CloneList(w.Word[2]); }},
    {"set", [](IRCConnection& c, const ServiceWords& w) { c.SetOp(w.Word[2], w.Word[3]); }},
    {"values",
     [](IRCConnection& c, const ServiceWords& w) {
         const std::string what = LowerCase(w.Word[2]);
         if (what == "set") ServerValues(c, w.Word[3], w.From(4), true);
         if (what == "get") ServerValues(c, w.Word[3], w.From(4), false);
     }},
    {"msg", [](IRCConnection& c, const ServiceWords& w) { OS_GlobalMsg(c, w.From(2)); }},
    {"refresh", [](IRCConnection& c, const ServiceWords&) { OS_Reload(c); }},
    {"rehash", [](IRCConnection& c, const ServiceWords&) { OS_Reload(c); }},
};

const ServiceTable Services[] = {
    {"nickserv", "NickServ", "NICKSERV", NickServCommands},
    {"chanserv", "ChanServ", "CHANSERV", ChanServCommands},
    {"memoserv", "MemoServ", "MEMOSERV", MemoServCommands},
    {"statserv", "StatServ", "STATSERV", StatServCommands, SS_TakeClientVersion},
    {"operserv", "OperServ", "OPERSERV", OperServCommands},
};

} // namespace

ServiceWords CutServiceWords(std::string_view Text)
{
    ServiceWords words;
    std::size_t start = 0;
    int i = 0;
    for (;;) {
        ++i;
        const std::size_t space = Text.find(' ', start);
        if (space == std::string_view::npos || i == ServiceWords::MaxWords) break;
        words.Word[static_cast<std::size_t>(i)] = std::string(Text.substr(start, space - start));
        start = space + 1;
    }
    // The last word carries the rest of the text, spaces included.
    words.Word[static_cast<std::size_t>(i)] = std::string(Text.substr(start));
    words.Count = i;
    return words;
}

std::string ServiceWords::From(int k) const
{
    return JoinTokens(Word, Count, k);
}

std::string ServiceCommand(std::string_view Text, std::string_view Service, IRCConnection& Conn)
{
    const std::string key = LowerCase(Service);
    for (const ServiceTable& service : Services) {
        if (service.Key != key) continue;
        const ServiceWords words = CutServiceWords(Text);
        if (service.Before != nullptr && service.Before(Conn, words)) return "";
        const std::string command = LowerCase(words.Word[1]);
        for (const ServiceEntry& entry : service.Commands) {
            if (entry.Word != command) continue;
            entry.Action(Conn, words);
            return "";
        }
        SendServiceNotice(service.Shown,
                          GetLangText(TextUnknownServiceCommand, Conn.Language, service.Capitals), Conn);
        return "";
    }
    return ""; // no such service: no answer
}

void SendServiceNotice(std::string_view Service, std::string_view Text, IRCConnection& Conn)
{
    std::string line;
    line.reserve(Service.size() + Text.size() + Conn.Nick.size() + 40);
    line.append(":").append(Service).append("!services@").append(Conn.bindServer->LHName);
    line.append(" NOTICE ").append(Conn.Nick).append(" :").append(Text);
    Conn.SendLine(line);
}

std::string HideSecrets(std::string_view Line)
{
    std::string_view rest = Line;
    // Takes the next word off the front of rest.
    const auto nextWord = [&rest] {
        const std::size_t space = rest.find(' ');
        const std::string_view word = rest.substr(0, space);
        rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
        return word;
    };
    // The next word of the text for a service, without the colon that may introduce the text.
    const auto nextServiceWord = [&nextWord] {
        std::string_view word = nextWord();
        if (!word.empty() && word.front() == ':') word.remove_prefix(1);
        return LowerCase(word);
    };
    // What is left in rest is the secret.
    const auto hideRest = [&rest, Line] {
        if (rest.empty()) return std::string(Line);
        return std::string(Line.substr(0, Line.size() - rest.size() - 1)).append(" <hidden>");
    };

    const std::string command = LowerCase(nextWord());
    if (command == "pass" || command == "reg" || command == "ident" || command == "rereg") return hideRest();
    std::string service = command == "ns" ? "nickserv" : command == "os" ? "operserv" : command;
    if (command == "privmsg" || command == "notice") service = LowerCase(nextWord());
    // Every NickServ command but help carries a password; only its command word stays readable.
    if (service == "nickserv") {
        nextServiceWord();
        return hideRest();
    }
    // The server password, set through OperServ.
    if (service == "operserv" && nextServiceWord() == "values" && nextServiceWord() == "set") {
        const std::string key = nextServiceWord();
        if (key == "pass" || key == "password") return hideRest();
    }
    return std::string(Line);
}
