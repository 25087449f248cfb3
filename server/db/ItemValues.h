#pragma once
// Value numbers of the items of the record database: value v of an item is the value field of line v
// of its chain. The numbers are part of the file format and are shared by every part of the server
// that reads or writes an item.

#include <cstdint>

namespace UserValue
{
constexpr std::int16_t Nick = 0; // as registered, letter case kept
constexpr std::int16_t Password = 1;
constexpr std::int16_t EMail = 2;
constexpr std::int16_t GlobChanMState = 3; // saved busy/away state
constexpr std::int16_t AwayMsg = 4;
constexpr std::int16_t RegisterDate = 5;
constexpr std::int16_t SaveDate = 6;
constexpr std::int16_t MemoChain = 7; // first line of the memo sub-chain
constexpr std::int16_t ClinentVStr = 8;
constexpr std::int16_t ServerOpModes = 9;
constexpr std::int16_t PassMailHost = 10; // host of the last password mail request; empty after a save
constexpr std::int16_t Language = 11;     // sign of the user's language
} // namespace UserValue

namespace ChanValue
{
constexpr std::int16_t Name = 0; // as registered, letter case kept
constexpr std::int16_t Owner = 1;
constexpr std::int16_t Password = 2;
constexpr std::int16_t ModeFlags = 3;   // one digit "0" or "1" per mode
constexpr std::int16_t MemberChain = 4; // first line of the member statuses sub-chain
constexpr std::int16_t LinkOnly = 5;    // never written: only links value 4 to value 6
constexpr std::int16_t FoundDate = 6;
constexpr std::int16_t SaveDate = 7;
constexpr std::int16_t TopicChain = 8; // first line of the topic text sub-chain
constexpr std::int16_t ModeKStr = 9;
constexpr std::int16_t BanChain = 10; // first line of the ban list sub-chain
constexpr std::int16_t TopicDate = 11;
constexpr std::int16_t TopicSeter = 12;
constexpr std::int16_t WriteStat = 13;
} // namespace ChanValue
