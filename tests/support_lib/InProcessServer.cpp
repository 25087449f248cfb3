#include "support_lib/InProcessServer.h"

#include "net/DnsRevRes.h"
#include "net/EventLoop.h"
#include "net/SelfTimer.h"
#include "server/core/AppMain.h"
#include "server/core/IRCServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>

InProcessServer::InProcessServer(const std::map<int, std::string>& Slots)
{
    SetClock(&Clock);
    // No DNS in tests: every address resolves to no name, so the address is the host name.
    SetReverseResolver([](const std::string&) { return std::string(); });
    WriteSettings(Dir.Path(), Slots);
    SetAppPath(Dir.Path());
    Server = std::make_unique<IRCServer>();
    Server->ListenAddress = "127.0.0.1";
    static std::mt19937 random{std::random_device{}()};
    Server->LocalIrcPort = std::uniform_int_distribution<int>(20000, 59000)(random);
    Server->Start();
    EXPECT_EQ(Server->ircSock.State, SockState::Listening);
}

InProcessServer::~InProcessServer()
{
    Server.reset();
    SetReverseResolver({});
    SetClock(nullptr);
}

void InProcessServer::Pump()
{
    EventLoop::Get().RunOnce(0);
}

void InProcessServer::Advance(std::int64_t Ms)
{
    Clock.Advance(Ms);
    RunDueTimers();
    Pump();
}

bool InProcessServer::PumpUntil(const std::function<bool()>& Condition, int TimeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (!Condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        EventLoop::Get().RunOnce(1);
    }
    return true;
}

TestClient InProcessServer::Client()
{
    TestClient client;
    client.Pump = [this] { Pump(); };
    client.Connect(Server->LocalIrcPort);
    return client;
}

TestClient InProcessServer::RegisteredClient(std::string_view Nick)
{
    TestClient client = Client();
    client.Register(Nick);
    return client;
}
