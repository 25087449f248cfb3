#pragma once
// Number codes of a connection: its state and the reasons for closing it.

namespace ConnState
{
constexpr int Free = 0;       // closed; the object waits for the next accept
constexpr int Resolving = 1;  // accepted, waiting for the reverse name lookup
constexpr int HostKnown = 2;  // host name known, not registered yet
constexpr int Registered = 3; // welcome sent
} // namespace ConnState

namespace QuitType
{
constexpr int Destroyed = -1; // program end
constexpr int Error = 0;      // socket error, send buffer overflow, port change
constexpr int Quit = 1;       // QUIT command
constexpr int PeerClosed = 2;
constexpr int Timeout = 3; // keep-alive PING unanswered
constexpr int Flooding = 4;
constexpr int NickTaken = 5; // the nick was taken back by its owner
constexpr int Killed = 6;
constexpr int GLined = 7;
constexpr int Clones = 8; // too many connections from one address
} // namespace QuitType

// Global channel states of a user (busy and away show as channel modes x and y).
namespace ChanMState
{
constexpr int None = 0;
constexpr int Busy = 1;
constexpr int Away = 2;
} // namespace ChanMState

// Server operator levels (ServerOpModes); a lower number is the higher level.
namespace OperLevel
{
constexpr int None = 0;
constexpr int Admin = 1;    // A: may grant and take any level
constexpr int CoAdmin = 2;  // C: acts on level 0 and 3, grants 3
constexpr int Operator = 3; // O: changes no level
} // namespace OperLevel
