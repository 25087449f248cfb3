#pragma once
// The single-threaded epoll reactor that runs every handler of both programs. Sockets, the
// timer table's timerfd and the lookup worker's wake-up descriptor are all watched here, so
// the epoll descriptor alone wakes for everything (a GUI loop can watch it and call RunOnce(0)).

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

class Watcher
{
public:
    virtual ~Watcher() = default;
    // Events is the epoll event mask that became ready.
    virtual void OnReady(std::uint32_t Events) = 0;
};

class EventLoop
{
public:
    static EventLoop& Get();

    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    int Fd() const { return EpollFd; }

    // Registers, changes or removes a descriptor. Failures are reported (ERROR line) and
    // yield false.
    bool Add(int Fd, Watcher* Target, std::uint32_t Events);
    bool Modify(int Fd, std::uint32_t Events);
    void Remove(int Fd);

    // One pass: waits at most maxWaitMs (0: do not wait, -1: until something happens, but
    // never past the next timer deadline), delivers ready descriptors, then runs due timers.
    void RunOnce(int maxWaitMs);
    // Runs passes until Stop() is called (from a handler or a signal handler).
    void Run();
    // Safe from a signal handler: it only sets a flag and writes to an eventfd.
    void Stop()
    {
        StopRequested = 1;
        Wake();
    }
    bool StopWasRequested() const { return StopRequested != 0; }
    void ClearStop() { StopRequested = 0; }

    // Where ERROR lines of the loop, the timers and the sockets go; the server points it at
    // its log writer. Default: standard error.
    void SetReporter(std::function<void(const std::string&)> Reporter);
    void Report(const std::string& Line);

    // Runs Handler; nothing unwinds into the loop: an exception is reported as
    // "ERROR " + Operation + " " + what() and the loop goes on.
    template <class F> void Guarded(const char* Operation, F&& Handler) noexcept
    {
        try {
            Handler();
        } catch (const std::exception& e) {
            Report(std::string("ERROR ") + Operation + " " + e.what());
        } catch (...) {
            Report(std::string("ERROR ") + Operation + " unknown exception");
        }
    }

private:
    EventLoop();
    ~EventLoop();

    struct WatchEntry {
        Watcher* Target = nullptr;
        // Numbers each registration, so that an event read for a descriptor that was closed and
        // reused by another socket within the same pass is not handed to the newcomer.
        std::uint32_t Generation = 0;
    };
    Watcher* FindWatcher(std::uint64_t Key) const;
    void Wake();

    int EpollFd = -1;
    int WakeFd = -1;
    volatile int StopRequested = 0;
    std::uint32_t NextGeneration = 1;
    std::unordered_map<int, WatchEntry> Watchers;
    std::function<void(const std::string&)> ReportTo;
};
