// Channel modes: MODE, the mode flags, the ban list, member statuses and the mode buffer that
// gathers changes into MODE lines of at most eight letters.

#include "server/channels/IRCChannel.h"
#include "server/core/IRCServer.h"
#include "server/core/Langw.h"
#include "server/core/Masks.h"
#include "server/core/TextIds.h"
#include "server/irc/IRCConnection.h"
#include "server/irc/Numerics.h"
#include "server/support/DateTexts.h"

#include "common/Text.h"

namespace
{

// Position + 1 is the mode number, which is also the skill that changes it.
constexpr std::string_view ModeLetters = "mntpsikjbvhoaq";
constexpr int LastFlagMode = ChanMode::HideStatus; // modes 1..8 are flags; 9..14 list and statuses
constexpr int ModeBufLimit = 8;
constexpr std::size_t HighestParamIndex = 127;

int ModeNumber(std::string_view Mode)
{
    if (Mode.size() != 1) return 0;
    const std::size_t at = ModeLetters.find(Mode[0]);
    return at == std::string_view::npos ? 0 : static_cast<int>(at) + 1;
}

bool TakesParameter(char Letter)
{
    return std::string_view("bkqaohv").find(Letter) != std::string_view::npos;
}

std::string Cut(std::string_view Text, std::size_t Length)
{
    return std::string(Text.substr(0, Length));
}

} // namespace

void IRCConnection::ModeCommand(const std::vector<std::string>& Tokens, int TokenCount)
{
    if (TokenCount < 1) {
        SendSM(ERR_NEEDMOREPARAMS, GetLangText(TextNeedMoreParams, Language), "MODE", "");
        return;
    }
    const auto token = [&Tokens](std::size_t Index) -> const std::string& {
        static const std::string none;
        return Index < Tokens.size() ? Tokens[Index] : none;
    };
    const int index = FindChannelSlot(token(1));
    if (index < 0) {
        // Not one of our channels: a nick, whose modes anyone may ask but nobody may change.
        const IRCConnection* target = bindServer->FindConnByNick(token(1), ConnState::Registered);
        if (target == nullptr) {
            SendSM(ERR_NOSUCHCHANNEL, GetLangText(TextNoSuchNick, Language), token(1), "");
            return;
        }
        if (!token(2).empty()) return;
        SendLine(":" + bindServer->LHName + " 221 " + target->Nick + " +" + target->UserModes());
        return;
    }
    IRCChannel& chan = *ChannelSlots[index].Channel;
    if (TokenCount < 2) {
        chan.SendModelist(*this);
        return;
    }
    const std::string modes = token(2);
    bool remove = false;
    std::size_t k = 0;
    for (const char raw : modes) {
        if (State != ConnState::Registered) break; // a reply overflowed our send buffer
        const char letter = static_cast<char>(LowerByte(static_cast<unsigned char>(raw)));
        if (letter == '+' || letter == '-') {
            remove = letter == '-';
            continue;
        }
        if (TakesParameter(letter)) {
            ++k;
            if (k + 3 > HighestParamIndex) break;
        }
        if (letter == 'b' && static_cast<std::size_t>(TokenCount) < k + 2) {
            chan.SendBannlist(*this);
            continue;
        }
        chan.SetMode(std::string_view(&letter, 1), remove, *this, token(k + 2));
    }
    // Always flushed, also after a close: the buffer must be empty between commands.
    chan.SendModeBuffer(*this, "", false);
}

std::string IRCChannel::GetModelist(bool WithBr) const
{
    std::string letters;
    for (int number = 1; number <= LastFlagMode; ++number)
        if (GetMode(number) != 0) letters += ModeLetters[static_cast<std::size_t>(number - 1)];
    if (!Owner.empty()) letters += 'r';
    if (letters.empty()) return "";
    return WithBr ? "[+" + letters + "] " : " +" + letters;
}

void IRCChannel::SendModelist(IRCConnection& Sender)
{
    const std::string modes = GetModelist(false);
    std::string line = ":" + bindServer->LHName + " 324 " + Sender.Nick + " " + Name + modes;
    if (modes.find('k') != std::string::npos) line += " " + ModeKStr;
    Sender.SendLine(line);
    if (Sender.State != ConnState::Registered) return;
    Sender.SendLine(":" + bindServer->LHName + " 329 " + Sender.Nick + " " + Name + " " +
                    std::to_string(UnixTime(FoundDate)));
}

void IRCChannel::SetMode(std::string_view Mode, bool Remove, IRCConnection& Sender,
                         std::string_view Parameter)
{
    const int number = ModeNumber(Mode);
    if (number == 0) {
        ModeBufBadModes.append(Mode);
        return;
    }
    if (!Sender.CheckRang(*this, number, Remove)) {
        ModeBufDenied = true; // answered once, by SendModeBuffer
        return;
    }
    if (number == ChanMode::Ban) {
        const std::string mask = ExpandMask(Parameter);
        int found = BanCount + 1;
        for (int i = 1; i <= BanCount; ++i) {
            if (EqualsNoCase(TrimSpaces(BanList[static_cast<std::size_t>(i)].Mask), mask)) {
                found = i;
                break;
            }
        }
        if (Remove) {
            if (found > BanCount) return; // not in the list
            BanList[static_cast<std::size_t>(found)] = BanEntry{};
            AddToModeBuffer(Sender, "b", true, mask, "", false);
            return;
        }
        if (found <= BanCount) return; // already banned
        for (int j = 1; j <= MaxBans; ++j) {
            BanEntry& ban = BanList[static_cast<std::size_t>(j)];
            if (!ban.IsEmpty()) continue;
            ban.Mask = Cut(mask, BanEntry::MaskLength);
            ban.SetBy = Cut(Sender.Nick, BanEntry::SetByLength);
            ban.SetDate = Now();
            if (BanCount < j) BanCount = j;
            AddToModeBuffer(Sender, "b", false, mask, "", false);
            return;
        }
        return; // all 64 slots full
    }
    if (number > ChanMode::Ban) {
        if (Parameter.empty()) return;
        IRCConnection* member = FindMember(Parameter);
        if (member == nullptr) {
            Sender.SendSM(ERR_NOSUCHNICK, GetLangText(TextNoSuchNick, Sender.Language), Parameter, "");
            return;
        }
        if (member->SetUserMode(Mode, Remove, Name))
            AddToModeBuffer(Sender, Mode, Remove, member->Nick, "", false);
        return;
    }
    // A flag changes only when it is not in the requested state yet: a second key does not
    // replace the first.
    std::size_t cell = static_cast<std::size_t>(number);
    if ((ModeFlags[cell] != 0) != Remove) return;
    bool newValue = !Remove;
    std::string_view buffered;
    if (number == ChanMode::Key) {
        if (Parameter.empty()) newValue = false;
        ModeKStr = std::string(Parameter);
        buffered = Parameter;
    }
    ModeFlags[cell] = newValue ? -1 : 0;
    AddToModeBuffer(Sender, Mode, Remove, buffered, "", false);
}

bool IRCChannel::IsBanned(const IRCConnection& User) const
{
    // Both hosts: a ban on the real host holds although others see only the cloak.
    const std::string shown = User.uID(0);
    const std::string real = User.uID(-1);
    for (int i = 1; i <= BanCount; ++i) {
        const std::string& mask = BanList[static_cast<std::size_t>(i)].Mask;
        if (mask.empty() || static_cast<unsigned char>(mask[0]) <= 32) continue;
        const std::string_view trimmed = TrimSpaces(mask);
        if (MatchMask(trimmed, shown) || MatchMask(trimmed, real)) return true;
    }
    return false;
}

void IRCChannel::SendBannlist(IRCConnection& Sender)
{
    const std::string head = ":" + bindServer->LHName + " 367 " + Sender.Nick + " " + Name + " ";
    for (int i = 1; i <= BanCount; ++i) {
        const BanEntry& ban = BanList[static_cast<std::size_t>(i)];
        if (ban.IsEmpty()) continue;
        Sender.SendLine(head + std::string(TrimSpaces(ban.Mask)) + " " + std::string(TrimSpaces(ban.SetBy)) +
                        " " + std::to_string(UnixTime(ban.SetDate)));
        if (Sender.State != ConnState::Registered) return;
    }
    Sender.SendSM(RPL_ENDOFBANLIST, GetLangText(TextEndOfBanList, Sender.Language), Name, "");
}

bool IRCConnection::SetUserMode(std::string_view Mode, bool Remove, std::string_view ChanName)
{
    const int index = FindChannelSlot(ChanName);
    if (index < 0 || Mode.size() != 1) return false;
    ChannelSlot& slot = ChannelSlots[index];
    bool* flag = nullptr;
    switch (Mode[0]) {
    case 'q':
        flag = &slot.StatusQ;
        break;
    case 'a':
        flag = &slot.StatusA;
        break;
    case 'o':
        flag = &slot.StatusO;
        break;
    case 'h':
        flag = &slot.StatusH;
        break;
    case 'v':
        flag = &slot.StatusV;
        break;
    default:
        return false;
    }
    const bool changes = *flag == Remove;
    *flag = !Remove;
    return changes;
}

void IRCChannel::AddToModeBuffer(IRCConnection& Sender, std::string_view Mode, bool Remove,
                                 std::string_view Parameter, std::string_view SenderStr, bool NotToMe)
{
    const std::size_t sign = ModeBufModes.find_last_of("+-");
    const bool sameDirection = sign != std::string::npos && (ModeBufModes[sign] == '-') == Remove;
    if (!sameDirection) ModeBufModes += Remove ? '-' : '+';
    ModeBufModes.append(Mode);
    if (!Parameter.empty()) ModeBufParams.append(" ").append(Parameter);
    ++ModeBufCount;
    if (ModeBufCount >= ModeBufLimit) SendModeBuffer(Sender, SenderStr, NotToMe);
}

void IRCChannel::SendModeBuffer(IRCConnection& Sender, std::string_view SenderStr, bool NotToMe)
{
    if (!ModeBufModes.empty()) {
        // Emptied before sending: a member closed by the broadcast must find a clean buffer.
        const std::string data = "MODE " + Name + " " + ModeBufModes + ModeBufParams;
        ModeBufModes.clear();
        ModeBufParams.clear();
        ModeBufCount = 0;
        Send(data, Sender, NotToMe, SenderStr);
    }
    if (ModeBufDenied) {
        ModeBufDenied = false;
        Sender.SendSM(ERR_CHANOPRIVSNEEDED, GetLangText(TextNoChannelRights, Sender.Language), Name, "");
    }
    if (!ModeBufBadModes.empty()) {
        const bool stateModes = ModeBufBadModes.find_first_of("xy") != std::string::npos;
        const std::string letters = ModeBufBadModes;
        ModeBufBadModes.clear();
        Sender.SendSM(ERR_UNKNOWNMODE,
                      GetLangText(stateModes ? TextBusyAwayNotModes : TextUnknownMode, Sender.Language),
                      letters, "");
    }
}
