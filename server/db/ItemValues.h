#pragma once
// Placeholder names until the record database lands.
#include <cstdint>
namespace UserVal {
constexpr int GlobChanMState = 3;
constexpr int AwayMsg = 4;
constexpr int LastSeen = 6;
constexpr int ClientVersion = 8;
constexpr int ServerOpModes = 9;
constexpr int Reserved10 = 10;
constexpr int Language = 11;
} // namespace UserVal
namespace UserValue {
constexpr std::int16_t Nick = 0;
constexpr std::int16_t Password = 1;
constexpr std::int16_t EMail = 2;
constexpr std::int16_t GlobChanMState = 3;
constexpr std::int16_t AwayMsg = 4;
constexpr std::int16_t RegisterDate = 5;
constexpr std::int16_t SaveDate = 6;
constexpr std::int16_t MemoChain = 7;
constexpr std::int16_t ClinentVStr = 8;
constexpr std::int16_t ServerOpModes = 9;
constexpr std::int16_t PassMailHost = 10;
constexpr std::int16_t Language = 11;
} // namespace UserValue
