#include "net/EventLoop.h"

#include "net/SelfTimer.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <iostream>

namespace
{

std::string SystemError(const char* Operation)
{
    return std::string("ERROR ") + Operation + " " + std::strerror(errno);
}

// Empties the loop's own wake-up eventfd; Stop() only needs the wait to return.
class WakeDrain final : public Watcher
{
public:
    int Fd = -1;
    void OnReady(std::uint32_t) override
    {
        std::uint64_t count = 0;
        if (read(Fd, &count, sizeof count) < 0 && errno != EAGAIN)
            EventLoop::Get().Report(SystemError("EventLoop read wake-up"));
    }
};

constexpr std::uint64_t MakeKey(int Fd, std::uint32_t Generation)
{
    return (static_cast<std::uint64_t>(Generation) << 32) | static_cast<std::uint32_t>(Fd);
}

} // namespace

EventLoop& EventLoop::Get()
{
    // Never destroyed: sockets and timers owned by static objects are closed during exit, after a
    // function-local static loop would already be gone.
    static EventLoop* const loop = new EventLoop;
    return *loop;
}

EventLoop::EventLoop()
{
    EpollFd = epoll_create1(EPOLL_CLOEXEC);
    if (EpollFd < 0) {
        Report(SystemError("EventLoop epoll_create1"));
        return;
    }
    WakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (WakeFd < 0) {
        Report(SystemError("EventLoop eventfd"));
        return;
    }
    static WakeDrain drain;
    drain.Fd = WakeFd;
    Add(WakeFd, &drain, EPOLLIN);
}

EventLoop::~EventLoop()
{
    if (WakeFd >= 0) close(WakeFd);
    if (EpollFd >= 0) close(EpollFd);
}

bool EventLoop::Add(int Fd, Watcher* Target, std::uint32_t Events)
{
    const std::uint32_t generation = NextGeneration++;
    if (NextGeneration == 0) NextGeneration = 1;
    epoll_event event{};
    event.events = Events;
    event.data.u64 = MakeKey(Fd, generation);
    if (epoll_ctl(EpollFd, EPOLL_CTL_ADD, Fd, &event) < 0) {
        Report(SystemError("EventLoop epoll_ctl add"));
        return false;
    }
    Watchers[Fd] = WatchEntry{Target, generation};
    return true;
}

bool EventLoop::Modify(int Fd, std::uint32_t Events)
{
    const auto found = Watchers.find(Fd);
    if (found == Watchers.end()) return false;
    epoll_event event{};
    event.events = Events;
    event.data.u64 = MakeKey(Fd, found->second.Generation);
    if (epoll_ctl(EpollFd, EPOLL_CTL_MOD, Fd, &event) < 0) {
        Report(SystemError("EventLoop epoll_ctl modify"));
        return false;
    }
    return true;
}

void EventLoop::Remove(int Fd)
{
    const auto found = Watchers.find(Fd);
    if (found == Watchers.end()) return;
    Watchers.erase(found);
    if (epoll_ctl(EpollFd, EPOLL_CTL_DEL, Fd, nullptr) < 0) Report(SystemError("EventLoop epoll_ctl remove"));
}

Watcher* EventLoop::FindWatcher(std::uint64_t Key) const
{
    const int fd = static_cast<int>(Key & 0xFFFFFFFFu);
    const auto found = Watchers.find(fd);
    if (found == Watchers.end()) return nullptr;
    if (found->second.Generation != static_cast<std::uint32_t>(Key >> 32)) return nullptr;
    return found->second.Target;
}

void EventLoop::RunOnce(int maxWaitMs)
{
    // The timerfd wakes us for timers on the system clock; the cap also covers an installed test
    // clock, whose deadlines the kernel knows nothing about.
    int waitMs = maxWaitMs;
    const std::int64_t untilTimer = MsUntilNextTimer();
    if (untilTimer >= 0 && (waitMs < 0 || untilTimer < waitMs)) waitMs = static_cast<int>(untilTimer);

    std::array<epoll_event, 64> events{};
    const int count = epoll_wait(EpollFd, events.data(), static_cast<int>(events.size()), waitMs);
    if (count < 0 && errno != EINTR) Report(SystemError("EventLoop epoll_wait"));
    for (int i = 0; i < count; ++i) {
        // Looked up again for every event: an earlier handler of this pass may have closed it.
        Watcher* watcher = FindWatcher(events[i].data.u64);
        if (watcher == nullptr) continue;
        const std::uint32_t what = events[i].events;
        Guarded("EventLoop", [&] { watcher->OnReady(what); });
    }
    RunDueTimers();
}

void EventLoop::Run()
{
    while (StopRequested == 0)
        RunOnce(-1);
}

void EventLoop::Wake()
{
    if (WakeFd < 0) return;
    const std::uint64_t one = 1;
    // Nothing to report from here (maybe a signal handler); a full counter means a wake-up is
    // pending already.
    const ssize_t written = write(WakeFd, &one, sizeof one);
    static_cast<void>(written);
}

void EventLoop::SetReporter(std::function<void(const std::string&)> Reporter)
{
    ReportTo = std::move(Reporter);
}

void EventLoop::Report(const std::string& Line)
{
    if (ReportTo) {
        ReportTo(Line);
        return;
    }
    std::cerr << Line << '\n';
}
