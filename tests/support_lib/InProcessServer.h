#pragma once
// A server object in this process, on a fake clock: keep-alive, deadlines and flood limits
// are driven by moving the clock instead of sleeping. Clients talk to it over loopback TCP and
// run its loop while they wait.

#include "common/Clock.h"
#include "support_lib/TestServer.h"

#include <functional>
#include <map>
#include <memory>
#include <string>

class IRCServer;

class InProcessServer
{
public:
    explicit InProcessServer(const std::map<int, std::string>& Slots = {});
    ~InProcessServer();
    InProcessServer(const InProcessServer&) = delete;
    InProcessServer& operator=(const InProcessServer&) = delete;

    FakeClock Clock;
    TestDir Dir;
    std::unique_ptr<IRCServer> Server;

    // One pass of the event loop without waiting.
    void Pump();
    // Moves the clock, runs what became due and lets the loop deliver it.
    void Advance(std::int64_t Ms);
    // Runs the loop until Condition holds (at most TimeoutMs of real time); whether it held.
    bool PumpUntil(const std::function<bool()>& Condition, int TimeoutMs = 2000);
    TestClient Client();
    TestClient RegisteredClient(std::string_view Nick);
};
