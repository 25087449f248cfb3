#include "common/Clock.h"

#include <ctime>

namespace
{
SystemClock TheSystemClock;
Clock* Current = &TheSystemClock;
} // namespace

std::int64_t SystemClock::UpTimeMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

std::int64_t SystemClock::WallMs()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

Clock& GetClock()
{
    return *Current;
}

void SetClock(Clock* NewClock)
{
    Current = NewClock != nullptr ? NewClock : &TheSystemClock;
}

Date Now()
{
    return Current->WallMs() / 1000;
}

std::int32_t TickCount()
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(Current->UpTimeMs() & 0xFFFFFFFF));
}

double SecondsSinceMidnight()
{
    const std::int64_t ms = Current->WallMs();
    const time_t seconds = static_cast<time_t>(ms / 1000);
    tm local{};
    localtime_r(&seconds, &local);
    return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec +
           static_cast<double>(ms % 1000) / 1000.0;
}
