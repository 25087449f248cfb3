// Ranks and skills, the busy and away states, statuses restored after identify, and SETOP.

#include "server/channels/Ranks.h"

#include "server/channels/IRCChannel.h"
#include "server/core/Langw.h"
#include "server/core/TextIds.h"
#include "server/irc/IRCConnection.h"
#include "server/irc/Numerics.h"
#include "server/services/ServiceRouter.h"

#include "common/Text.h"

#include <fstream>

int SlotRank(const ChannelSlot& Slot)
{
    if (Slot.StatusQ) return ChanRank::Owner;
    if (Slot.StatusA) return ChanRank::Admin;
    if (Slot.StatusO) return ChanRank::Op;
    if (Slot.StatusH) return ChanRank::HalfOp;
    if (Slot.StatusV) return ChanRank::Voice;
    return ChanRank::None;
}

void ReadRankLine(std::string_view Line, int& CurrentRank, RankTable& Skills)
{
    const std::string_view line = TrimSpaces(Line);
    if (line.empty()) return;
    if (line[0] == '>') {
        if (line.size() < 2) return;
        switch (LowerByte(static_cast<unsigned char>(line[1]))) {
        case '-':
            CurrentRank = ChanRank::None;
            break;
        case 'v':
            CurrentRank = ChanRank::Voice;
            break;
        case 'h':
            CurrentRank = ChanRank::HalfOp;
            break;
        case 'o':
            CurrentRank = ChanRank::Op;
            break;
        case 'a':
            CurrentRank = ChanRank::Admin;
            break;
        case 'q':
            CurrentRank = ChanRank::Owner;
            break;
        default:
            break;
        }
        return;
    }
    if (CurrentRank < 1 || CurrentRank > RankCount) return;
    auto& row = Skills[static_cast<std::size_t>(CurrentRank)];
    const std::string word = LowerCase(line.substr(0, line.find(' ')));
    if (word == "mode") {
        // The letter ends the line; a sign before it limits list and status modes to one direction.
        const char letter = line.back();
        const char sign = line.size() >= 2 ? line[line.size() - 2] : ' ';
        const std::size_t listAt = std::string_view("bvhoaq").find(letter);
        if (listAt != std::string_view::npos) {
            const std::uint8_t grant =
                sign == '+' ? SkillGrant::SetOnly : (sign == '-' ? SkillGrant::RemoveOnly : SkillGrant::Both);
            row[static_cast<std::size_t>(ChanMode::Ban) + listAt] = grant;
            return;
        }
        const std::size_t flagAt = std::string_view("mntpsikj").find(letter);
        if (flagAt != std::string_view::npos) row[flagAt + 1] = SkillGrant::Both;
        return;
    }
    static constexpr std::pair<std::string_view, int> words[] = {
        {"speak", Skill::Speak},       {"kick", Skill::Kick},
        {"topic", Skill::Topic},       {"changepassword", Skill::ChangePassword},
        {"register", Skill::Register},
    };
    for (const auto& [name, skill] : words)
        if (word == name) row[static_cast<std::size_t>(skill)] = SkillGrant::Both;
}

// The table is not cleared: a reload can add a grant but takes none away until the server restarts.
std::string IRCServer::LoadRankValues(const std::string& Path)
{
    std::ifstream file(Path, std::ios::binary);
    if (!file) return "";
    int rank = 0;
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        ReadRankLine(line, rank, RankSkills);
    }
    return "";
}

std::uint8_t IRCServer::GetRankSkills(int RequComm, int UserMode) const
{
    if (RequComm < 1 || RequComm > SkillCount || UserMode < 1 || UserMode > RankCount)
        return SkillGrant::Denied;
    return RankSkills[static_cast<std::size_t>(UserMode)][static_cast<std::size_t>(RequComm)];
}

bool IRCConnection::CheckRang(const IRCChannel& Channel, int RequComm, bool Remove)
{
    if (RequComm == 0) return false;
    // The owner may do everything, also without any status and from outside the channel.
    if (!Channel.Owner.empty() && EqualsNoCase(Channel.Owner, IdentNick)) return true;
    const int index = FindChannelSlot(Channel);
    if (index < 0) return false;
    switch (bindServer->GetRankSkills(RequComm, SlotRank(ChannelSlots[index]))) {
    case SkillGrant::Both:
        return true;
    case SkillGrant::RemoveOnly:
        return Remove;
    case SkillGrant::SetOnly:
        return !Remove;
    default:
        return false;
    }
}

void IRCConnection::SetGlobalChanState(int StType, std::string_view Param)
{
    if (StType != ChanMState::Busy && StType != ChanMState::Away) return;
    const int old = GlobChanMState;
    if (Param.empty())
        GlobChanMState = GlobChanMState == StType ? ChanMState::None : StType;
    else if (NumericValue(Param) != 0)
        GlobChanMState = StType;
    else if (GlobChanMState == StType)
        GlobChanMState = ChanMState::None;
    if (GlobChanMState == old) return;

    std::string change;
    if (old == ChanMState::Busy) change += "-x";
    if (old == ChanMState::Away) {
        SendSM(RPL_UNAWAY, GetLangText(TextNoLongerAway, Language), "", "");
        change += "-y";
    }
    if (GlobChanMState == ChanMState::Busy) change += "+x";
    if (GlobChanMState == ChanMState::Away) {
        SendSM(RPL_NOWAWAY, GetLangText(TextNowAway, Language), "", "");
        change += "+y";
    }
    if (State != ConnState::Registered) return;
    if (AwayChanm) {
        // One line per channel; the nick stands once for each letter.
        if (change.size() >= 3) change += " " + Nick;
        const std::string tail = " " + change + " " + Nick;
        for (const ChannelSlot& slot : ChannelSlots) {
            if (!slot.InUse || slot.Channel == nullptr) continue;
            slot.Channel->Send("MODE " + slot.Channel->Name + tail, *this, false);
            if (State != ConnState::Registered) return;
        }
    }
    if (GlobChanMState == ChanMState::None) MS_Recv(false); // no notice of an empty memo box
}

void IRCConnection::ReloadChanValues()
{
    for (int index = 0; index < MaxChannelSlots; ++index) {
        if (State != ConnState::Registered) return;
        const ChannelSlot before = ChannelSlots[index];
        if (!before.InUse || before.Channel == nullptr || before.Channel->Owner.empty()) continue;
        IRCChannel& chan = *before.Channel;
        LoadUChanVals(index);
        const ChannelSlot& after = ChannelSlots[index];
        const std::string chanName = chan.Name;
        const auto announce = [&](bool Was, bool Is, std::string_view Letter) {
            if (Was != Is) chan.AddToModeBuffer(*this, Letter, !Is, Nick, chanName, false);
        };
        announce(before.StatusV, after.StatusV, "v");
        if (chan.GetMode(ChanMode::HideStatus) == 0) {
            announce(before.StatusH, after.StatusH, "h");
            announce(before.StatusO, after.StatusO, "o");
            announce(before.StatusA, after.StatusA, "a");
            announce(before.StatusQ, after.StatusQ, "q");
        }
        chan.SendModeBuffer(*this, chanName, false);
    }
}

namespace
{

int LevelOfLetter(std::string_view Letter)
{
    if (Letter == "A") return OperLevel::Admin;
    if (Letter == "C") return OperLevel::CoAdmin;
    if (Letter == "O") return OperLevel::Operator;
    return OperLevel::None;
}

} // namespace

void IRCConnection::SetOp(std::string_view User, std::string_view Rank)
{
    IRCConnection* target = bindServer->FindConnByNick(User, ConnState::Registered);
    if (target == nullptr) {
        SendSM(ERR_NOSUCHCHANNEL, GetLangText(TextNoSuchUser, Language), User, "");
        return;
    }
    const bool hasSign = !Rank.empty() && (Rank[0] == '+' || Rank[0] == '-');
    const std::size_t at = hasSign ? 1 : 0;
    std::string letter;
    if (at < Rank.size()) {
        const char c = Rank[at];
        letter = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    const int level = LevelOfLetter(letter);
    if (level == OperLevel::None) {
        SendSM(ERR_UNKNOWNMODE, GetLangText(TextUnknownMode, Language), letter, "");
        return;
    }
    // A lower number is the higher level: an operator acts only on those below him and grants
    // only levels below his own; level A may do anything.
    const int own = ServerOpModes;
    const int theirs = target->ServerOpModes;
    const bool allowed =
        own >= OperLevel::Admin &&
        (own == OperLevel::Admin || ((theirs == OperLevel::None || own < theirs) && own < level));
    if (!allowed) {
        SendSM(ERR_NOPRIVILEGES, GetLangText(TextNoPrivileges, Language), "", "");
        return;
    }
    const std::string oldLetter = GetUserModeByIndex(theirs);
    const std::string prefix = ":" + Nick + " MODE " + target->Nick;
    if (Rank[0] == '-') {
        if (letter != oldLetter) return;
        SendServiceNotice("OperServ", GetLangText(TextOperLevelRemoved, Language, target->Nick, letter),
                          *this);
        // The level changes before the line goes out: a target closed by it saves the new level.
        target->ServerOpModes = OperLevel::None;
        target->SendLine(prefix + " -" + oldLetter);
        if (target->State == ConnState::Registered) target->SaveValues();
        return;
    }
    if (letter == oldLetter) return;
    SendServiceNotice("OperServ", GetLangText(TextOperLevelGiven, Language, target->Nick, letter), *this);
    target->ServerOpModes = level;
    if (!oldLetter.empty()) target->SendLine(prefix + " -" + oldLetter);
    if (target->State != ConnState::Registered) return;
    target->SendLine(prefix + " +" + letter);
    if (target->State == ConnState::Registered) target->SaveValues();
}
