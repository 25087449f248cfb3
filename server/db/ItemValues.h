#pragma once
// Placeholder names until the record database lands.
namespace UserVal {
constexpr int GlobChanMState = 3;
constexpr int AwayMsg = 4;
constexpr int LastSeen = 6;
constexpr int ClientVersion = 8;
constexpr int ServerOpModes = 9;
constexpr int Reserved10 = 10;
constexpr int Language = 11;
} // namespace UserVal
