#pragma once
// Drives the event loop in tests: short passes until a condition holds, never longer than a
// bound, so a broken behaviour fails the test instead of hanging it.

#include "net/EventLoop.h"

#include <chrono>

template <class Condition> bool RunLoopUntil(Condition Done, int LimitMs = 2000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(LimitMs);
    while (!Done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        EventLoop::Get().RunOnce(10);
    }
    return true;
}

// Passes of the loop for a short while, for checking that nothing (more) happens.
inline void RunLoopFor(int Ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
    while (std::chrono::steady_clock::now() < end)
        EventLoop::Get().RunOnce(5);
}
