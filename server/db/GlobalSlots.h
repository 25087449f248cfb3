#pragma once
// What each global value slot of the record database holds. The numbers are part of the file
// format: a slot never changes its meaning, new settings take a slot nobody has used.

namespace GlobalSlot
{
constexpr int UserCount = 0;      // registered nicks, kept in step with the user index
constexpr int ChanCount = 1;      // registered channels, kept in step with the channel index
constexpr int UserIndexBlock = 2; // first block of the user index
constexpr int ChanIndexBlock = 3; // first block of the channel index
constexpr int InstDate = 4;
constexpr int ServerPassword = 5;
constexpr int ConnectCount = 6;
constexpr int NetWorkName = 7; // empty: the product word
constexpr int LHName = 8;
constexpr int LocalIrcPort = 9;
constexpr int CloseChanIfEmpty = 10; // empty: true
constexpr int GetClientVersion = 11; // empty: true
constexpr int GLineChain = 12;       // first line of the G-line list
constexpr int DefoultLang = 13;
constexpr int PingInterval = 14; // 0: 180 seconds
constexpr int SmtpServer = 15;
constexpr int FromAdress = 16;
constexpr int AutoFloodKill = 17;
constexpr int MaxAlowedClones = 18;
constexpr int StatWriteCount = 19;
constexpr int EveryDayStat = 20; // non-zero: true
constexpr int MaxUserCount = 21;
constexpr int MaxUserDate = 22;
constexpr int AwayChanmode = 23; // empty: true
// The logging level has a slot of its own. Older files never wrote this slot, so it reads as empty
// there, which is level 0; sharing the default language's slot made each setting overwrite the other.
constexpr int Logging = 24;

// Slots 0 to 319 exist in every file; slots above Logging are still unused.
constexpr int Count = 320;
} // namespace GlobalSlot
