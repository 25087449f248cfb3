#pragma once
// The one source of time for the server and the console. Tests install a FakeClock so that
// keep-alive, deadlines, flood limits and midnight can be driven without sleeping.

#include <cstdint>

// A local date and time with one-second resolution, as seconds since the Unix epoch;
// 0 is the unset ("zero") date.
using Date = std::int64_t;

class Clock
{
public:
    virtual ~Clock() = default;
    // Milliseconds of a monotonic up-time counter.
    virtual std::int64_t UpTimeMs() = 0;
    // Milliseconds since the Unix epoch (UTC).
    virtual std::int64_t WallMs() = 0;
};

class SystemClock final : public Clock
{
public:
    std::int64_t UpTimeMs() override;
    std::int64_t WallMs() override;
};

class FakeClock final : public Clock
{
public:
    std::int64_t UpMs = 1'000'000;
    std::int64_t Wall = 1'700'000'000'000;
    std::int64_t UpTimeMs() override { return UpMs; }
    std::int64_t WallMs() override { return Wall; }
    void Advance(std::int64_t Ms)
    {
        UpMs += Ms;
        Wall += Ms;
    }
};

Clock& GetClock();
// Installs another clock (nullptr restores the system clock). The caller keeps ownership.
void SetClock(Clock* NewClock);

// Now, as a Date.
Date Now();
// The up-time counter in milliseconds read as a signed 32-bit value, as the idle and flood
// arithmetic expects (it wraps after about 49.7 days).
std::int32_t TickCount();
// Seconds since local midnight, with fractions.
double SecondsSinceMidnight();
