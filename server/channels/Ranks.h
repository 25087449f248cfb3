#pragma once
// The channel permission model: a member's rank comes from his strongest status, and the rank
// table read from Rank.cfg says which skills each rank may use.

#include "server/core/IRCServer.h"

#include <array>
#include <cstdint>
#include <string_view>

struct ChannelSlot;

// Ranks, the row of the skill table; 6 is a member without status.
namespace ChanRank
{
constexpr int Voice = 1;
constexpr int HalfOp = 2;
constexpr int Op = 3;
constexpr int Admin = 4;
constexpr int Owner = 5;
constexpr int None = 6;
} // namespace ChanRank

// Skills beyond the fourteen modes (whose skill number is the mode number).
namespace Skill
{
constexpr int Speak = 15;
constexpr int Kick = 16;
constexpr int Topic = 17;
constexpr int ChangePassword = 18;
constexpr int Register = 19;
} // namespace Skill

// What a cell of the skill table grants.
namespace SkillGrant
{
constexpr std::uint8_t Denied = 0;
constexpr std::uint8_t Both = 1;
constexpr std::uint8_t RemoveOnly = 2;
constexpr std::uint8_t SetOnly = 3;
} // namespace SkillGrant

using RankTable = std::array<std::array<std::uint8_t, SkillCount + 1>, RankCount + 1>;

// The rank of a member by his slot: the strongest status decides.
int SlotRank(const ChannelSlot& Slot);

// Applies one line of Rank.cfg. CurrentRank is the rank chosen by the last ">" header, 0 before
// the first one (grants there have no rank to go to and are ignored). Grants only ever add.
void ReadRankLine(std::string_view Line, int& CurrentRank, RankTable& Skills);
