#include "net/SelfTimer.h"

#include "common/Clock.h"
#include "net/EventLoop.h"

#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <string>
#include <utility>

namespace
{

// (owner address, timer id): ordered, so all timers of one owner sit side by side.
using OwnerKey = std::pair<std::uintptr_t, int>;
// (deadline on the up-time clock, start sequence): timers due at the same moment run in the
// order they were started.
using DueKey = std::pair<std::int64_t, std::uint64_t>;

struct PendingTimer {
    TimerOwner* Owner;
    int TimerID;
};

OwnerKey KeyOf(TimerOwner* Owner, int TimerID)
{
    return {reinterpret_cast<std::uintptr_t>(Owner), TimerID};
}

// Two indexes over the same timers keep every start, stop and expiry at O(log n), however many
// connections each hold a deadline.
class TimerTable final : public Watcher
{
public:
    std::map<OwnerKey, DueKey> ByOwner;
    std::map<DueKey, PendingTimer> ByDeadline;
    std::uint64_t NextSequence = 1;

    TimerTable()
    {
        TimerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (TimerFd < 0) {
            // The loop still caps its waits at the next deadline, so timers run, only later
            // when a GUI drives the loop through its descriptor.
            Report("timerfd_create");
            return;
        }
        if (!EventLoop::Get().Add(TimerFd, this, EPOLLIN)) {
            close(TimerFd);
            TimerFd = -1;
        }
    }

    void Forget(std::map<OwnerKey, DueKey>::iterator Entry)
    {
        ByDeadline.erase(Entry->second);
        ByOwner.erase(Entry);
    }

    // Keeps the timerfd armed for the earliest deadline, so the epoll descriptor alone wakes
    // the process for timers too. Only a change of the earliest deadline costs a system call.
    void Rearm()
    {
        if (TimerFd < 0) return;
        const bool any = !ByDeadline.empty();
        const std::int64_t earliest = any ? ByDeadline.begin()->first.first : 0;
        if (any == Armed && earliest == ArmedFor) return;
        itimerspec when{};
        if (any) {
            const std::int64_t ms = earliest - GetClock().UpTimeMs();
            if (ms > 0) {
                when.it_value.tv_sec = static_cast<time_t>(ms / 1000);
                when.it_value.tv_nsec = static_cast<long>(ms % 1000) * 1'000'000;
            } else {
                when.it_value.tv_nsec = 1; // due already: a zero value would disarm it
            }
        }
        if (timerfd_settime(TimerFd, 0, &when, nullptr) != 0) {
            Report("timerfd_settime");
            return;
        }
        Armed = any;
        ArmedFor = earliest;
    }

    void OnReady(std::uint32_t) override
    {
        std::uint64_t expirations = 0;
        if (read(TimerFd, &expirations, sizeof expirations) < 0 && errno != EAGAIN) Report("read timerfd");
        // The loop runs the due timers after this pass; whatever is left needs a fresh arming.
        Armed = false;
        Rearm();
    }

private:
    int TimerFd = -1;
    bool Armed = false;
    std::int64_t ArmedFor = 0;

    static void Report(const char* Operation)
    {
        EventLoop::Get().Report(std::string("ERROR SelfTimer ") + Operation + " " + std::strerror(errno));
    }
};

TimerTable& Table()
{
    // Never destroyed: owners that are static objects stop their timers during exit.
    static TimerTable* const table = new TimerTable;
    return *table;
}

} // namespace

long StartTimer(TimerOwner* Owner, long Elapse, int TimerID)
{
    if (Owner == nullptr) return 0;
    TimerTable& table = Table();
    const OwnerKey key = KeyOf(Owner, TimerID);
    const auto found = table.ByOwner.find(key);
    if (found != table.ByOwner.end()) table.Forget(found);
    const std::int64_t deadline = GetClock().UpTimeMs() + (Elapse > 0 ? Elapse : 0);
    const std::uint64_t sequence = table.NextSequence++;
    const DueKey due{deadline, sequence};
    table.ByOwner.emplace(key, due);
    table.ByDeadline.emplace(due, PendingTimer{Owner, TimerID});
    table.Rearm();
    return static_cast<long>(sequence);
}

void StopTimer(int TimerID, TimerOwner* Owner)
{
    TimerTable& table = Table();
    const auto found = table.ByOwner.find(KeyOf(Owner, TimerID));
    if (found == table.ByOwner.end()) return;
    table.Forget(found);
    table.Rearm();
}

void StopAllTimers(TimerOwner* Owner)
{
    TimerTable& table = Table();
    const std::uintptr_t owner = reinterpret_cast<std::uintptr_t>(Owner);
    auto entry = table.ByOwner.lower_bound(OwnerKey{owner, INT_MIN});
    while (entry != table.ByOwner.end() && entry->first.first == owner) {
        table.ByDeadline.erase(entry->second);
        entry = table.ByOwner.erase(entry);
    }
    table.Rearm();
}

std::int64_t MsUntilNextTimer()
{
    const TimerTable& table = Table();
    if (table.ByDeadline.empty()) return -1;
    const std::int64_t ms = table.ByDeadline.begin()->first.first - GetClock().UpTimeMs();
    return ms > 0 ? ms : 0;
}

void RunDueTimers()
{
    TimerTable& table = Table();
    const std::int64_t now = GetClock().UpTimeMs();
    // A timer started from inside a TimerEvent waits for the next pass, even with a zero
    // elapse: an owner that restarts itself at once cannot hold the loop here.
    const std::uint64_t lastStarted = table.NextSequence - 1;
    while (!table.ByDeadline.empty()) {
        const auto first = table.ByDeadline.begin();
        if (first->first.first > now || first->first.second > lastStarted) break;
        const PendingTimer timer = first->second;
        // Removed before the owner hears of it, so the owner may start it again.
        table.ByOwner.erase(KeyOf(timer.Owner, timer.TimerID));
        table.ByDeadline.erase(first);
        EventLoop::Get().Guarded("TimerEvent", [&] { timer.Owner->TimerEvent(timer.TimerID); });
    }
    table.Rearm();
}

std::size_t PendingTimerCount()
{
    return Table().ByDeadline.size();
}
