#include "net/EventLoop.h"

#include "net/SelfTimer.h"

#include <gtest/gtest.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{

struct CallbackWatcher final : Watcher {
    std::function<void()> Handler;
    int Calls = 0;
    void OnReady(std::uint32_t) override
    {
        ++Calls;
        if (Handler) Handler();
    }
};

// A pipe with a byte waiting, so its read end is ready.
struct ReadyPipe {
    int Fds[2] = {-1, -1};
    ReadyPipe()
    {
        EXPECT_EQ(pipe(Fds), 0);
        EXPECT_EQ(write(Fds[1], "x", 1), 1);
    }
    ~ReadyPipe() { Close(); }
    void Close()
    {
        for (int& fd : Fds) {
            if (fd >= 0) close(fd);
            fd = -1;
        }
    }
};

TEST(EventLoop, HandlerMayRemoveAnotherReadyWatcher)
{
    ReadyPipe first;
    ReadyPipe second;
    CallbackWatcher one;
    CallbackWatcher two;
    // Whichever runs first takes the other out of the loop; the other's event of this pass is dropped.
    one.Handler = [&] { EventLoop::Get().Remove(second.Fds[0]); };
    two.Handler = [&] { EventLoop::Get().Remove(first.Fds[0]); };
    ASSERT_TRUE(EventLoop::Get().Add(first.Fds[0], &one, EPOLLIN));
    ASSERT_TRUE(EventLoop::Get().Add(second.Fds[0], &two, EPOLLIN));
    EventLoop::Get().RunOnce(0);
    EXPECT_EQ(one.Calls + two.Calls, 1);
    EventLoop::Get().Remove(first.Fds[0]);
    EventLoop::Get().Remove(second.Fds[0]);
}

TEST(EventLoop, ReusedDescriptorDoesNotGetTheOldEvent)
{
    ReadyPipe first;
    ReadyPipe second;
    ReadyPipe replacement;
    replacement.Close();
    CallbackWatcher one;
    CallbackWatcher two;
    CallbackWatcher newcomer;
    int reusedFd = -1;
    // The first to run closes the other pipe and at once opens a new one, which takes the lowest
    // free descriptor: the one just closed, whose event is still in this pass's list.
    auto closeAndReuse = [&](ReadyPipe& other) {
        if (reusedFd >= 0) return;
        reusedFd = other.Fds[0];
        EventLoop::Get().Remove(other.Fds[0]);
        other.Close();
        ASSERT_EQ(pipe(replacement.Fds), 0);
        EventLoop::Get().Add(replacement.Fds[0], &newcomer, EPOLLIN);
    };
    one.Handler = [&] { closeAndReuse(second); };
    two.Handler = [&] { closeAndReuse(first); };
    ASSERT_TRUE(EventLoop::Get().Add(first.Fds[0], &one, EPOLLIN));
    ASSERT_TRUE(EventLoop::Get().Add(second.Fds[0], &two, EPOLLIN));
    EventLoop::Get().RunOnce(0);
    for (int fd : {first.Fds[0], second.Fds[0], replacement.Fds[0]})
        if (fd >= 0) EventLoop::Get().Remove(fd);
    ASSERT_EQ(replacement.Fds[0], reusedFd) << "the descriptor was not reused; nothing was tested";
    EXPECT_EQ(newcomer.Calls, 0); // its pipe is empty: the event was the old one's
}

TEST(EventLoop, ThrowingHandlerIsReportedAndTheLoopGoesOn)
{
    ReadyPipe ready;
    CallbackWatcher thrower;
    thrower.Handler = [] { throw std::runtime_error("handler failed"); };
    std::vector<std::string> reports;
    EventLoop::Get().SetReporter([&](const std::string& Line) { reports.push_back(Line); });
    ASSERT_TRUE(EventLoop::Get().Add(ready.Fds[0], &thrower, EPOLLIN));
    EventLoop::Get().RunOnce(0);
    EventLoop::Get().Remove(ready.Fds[0]);
    EventLoop::Get().SetReporter(nullptr);
    EXPECT_EQ(reports, (std::vector<std::string>{"ERROR EventLoop handler failed"}));
}

TEST(EventLoop, AddingAnInvalidDescriptorIsReported)
{
    CallbackWatcher nobody;
    std::vector<std::string> reports;
    EventLoop::Get().SetReporter([&](const std::string& Line) { reports.push_back(Line); });
    const bool added = EventLoop::Get().Add(-1, &nobody, EPOLLIN);
    EventLoop::Get().SetReporter(nullptr);
    EXPECT_FALSE(added);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].rfind("ERROR EventLoop epoll_ctl add ", 0), 0u) << reports[0];
}

struct StoppingOwner final : TimerOwner {
    std::vector<int> Fired;
    ~StoppingOwner() { StopAllTimers(this); }
    void TimerEvent(int TimerID) override
    {
        Fired.push_back(TimerID);
        EventLoop::Get().Stop();
    }
};

TEST(EventLoop, RunReturnsOnceAHandlerStopsIt)
{
    StoppingOwner owner;
    StartTimer(&owner, 10, 1);
    StartTimer(&owner, 2000, 2); // a bound for a loop that would not stop
    EventLoop::Get().Run();
    EXPECT_TRUE(EventLoop::Get().StopWasRequested());
    EventLoop::Get().ClearStop();
    EXPECT_EQ(owner.Fired, (std::vector<int>{1}));
}

} // namespace
