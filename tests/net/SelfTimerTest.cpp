#include "net/SelfTimer.h"

#include "common/Clock.h"
#include "net/EventLoop.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{

// Every expiry of every owner, in the order they ran: owner name, timer id and the fake time.
std::vector<std::string> Expiries;

struct RecordingOwner final : TimerOwner {
    explicit RecordingOwner(std::string OwnerName) : Name(std::move(OwnerName)) {}
    ~RecordingOwner() { StopAllTimers(this); }
    std::string Name;
    std::function<void(int)> OnExpiry; // runs inside TimerEvent
    void TimerEvent(int TimerID) override
    {
        Expiries.push_back(Name + ":" + std::to_string(TimerID) + "@" +
                           std::to_string(GetClock().UpTimeMs()));
        if (OnExpiry) OnExpiry(TimerID);
    }
};

class SelfTimerTest : public ::testing::Test
{
protected:
    FakeClock Fake;
    void SetUp() override
    {
        Fake.UpMs = 0;
        SetClock(&Fake);
        Expiries.clear();
    }
    void TearDown() override { SetClock(nullptr); }
    // Moves the clock and runs what became due, as one loop pass would.
    void Advance(std::int64_t Ms)
    {
        Fake.Advance(Ms);
        RunDueTimers();
    }
};

TEST_F(SelfTimerTest, ExpiresOnceAfterItsTime)
{
    RecordingOwner a("A");
    EXPECT_NE(StartTimer(&a, 1000, 1), 0);
    Advance(999);
    EXPECT_TRUE(Expiries.empty());
    Advance(1);
    Advance(5000);
    EXPECT_EQ(Expiries, (std::vector<std::string>{"A:1@1000"}));
    EXPECT_EQ(PendingTimerCount(), 0u);
}

TEST_F(SelfTimerTest, RestartCountsFromTheSecondStart)
{
    RecordingOwner a("A");
    StartTimer(&a, 1000, 1);
    Advance(600);
    StartTimer(&a, 1000, 1);
    Advance(600); // 1200 after the first start
    EXPECT_TRUE(Expiries.empty());
    Advance(400);
    Advance(5000);
    EXPECT_EQ(Expiries, (std::vector<std::string>{"A:1@1600"}));
}

TEST_F(SelfTimerTest, OwnersAndIdsAreIndependent)
{
    RecordingOwner a("A");
    RecordingOwner b("B");
    StartTimer(&a, 1000, 1);
    StartTimer(&b, 1000, 1);
    StartTimer(&a, 500, 2);
    StopTimer(1, &a);
    Advance(500);
    Advance(500);
    Advance(5000);
    EXPECT_EQ(Expiries, (std::vector<std::string>{"A:2@500", "B:1@1000"}));
}

TEST_F(SelfTimerTest, StoppingWhatIsNotPendingDoesNothing)
{
    RecordingOwner a("A");
    RecordingOwner b("B");
    StartTimer(&a, 100, 1);
    StopTimer(2, &a);
    StopTimer(1, &b);
    StopTimer(7, nullptr);
    Advance(100);
    EXPECT_EQ(Expiries, (std::vector<std::string>{"A:1@100"}));
    StopTimer(1, &a); // already expired
    EXPECT_EQ(PendingTimerCount(), 0u);
}

TEST_F(SelfTimerTest, RestartFromInsideTimerEventExpiresOnceMore)
{
    RecordingOwner a("A");
    int restarts = 0;
    a.OnExpiry = [&](int TimerID) {
        if (restarts++ == 0) StartTimer(&a, 300, TimerID);
    };
    StartTimer(&a, 100, 1);
    Advance(100);
    Advance(299);
    EXPECT_EQ(Expiries.size(), 1u);
    Advance(1);
    Advance(5000);
    EXPECT_EQ(Expiries, (std::vector<std::string>{"A:1@100", "A:1@400"}));
}

TEST_F(SelfTimerTest, ZeroRestartWaitsForTheNextPass)
{
    RecordingOwner a("A");
    a.OnExpiry = [&](int TimerID) { StartTimer(&a, 0, TimerID); };
    StartTimer(&a, 10, 1);
    Advance(10);
    EXPECT_EQ(Expiries.size(), 1u); // not run again within the same pass
    RunDueTimers();
    EXPECT_EQ(Expiries.size(), 2u);
    StopTimer(1, &a);
}

TEST_F(SelfTimerTest, DueTimersRunEarliestFirstThenInStartOrder)
{
    RecordingOwner a("A");
    RecordingOwner b("B");
    RecordingOwner c("C");
    StartTimer(&c, 300, 1);
    StartTimer(&b, 200, 1);
    StartTimer(&a, 200, 1);
    StartTimer(&a, 100, 2);
    Advance(1000);
    EXPECT_EQ(Expiries, (std::vector<std::string>{"A:2@1000", "B:1@1000", "A:1@1000", "C:1@1000"}));
}

TEST_F(SelfTimerTest, HandlerMayStopAnotherDueTimer)
{
    RecordingOwner a("A");
    RecordingOwner b("B");
    a.OnExpiry = [&](int) { StopTimer(1, &b); };
    StartTimer(&a, 100, 1);
    StartTimer(&b, 100, 1);
    Advance(100);
    EXPECT_EQ(Expiries, (std::vector<std::string>{"A:1@100"}));
}

TEST_F(SelfTimerTest, StopAllTimersLeavesOtherOwners)
{
    RecordingOwner a("A");
    RecordingOwner b("B");
    StartTimer(&a, 100, 1);
    StartTimer(&a, 100, 2);
    StartTimer(&b, 100, 1);
    StopAllTimers(&a);
    EXPECT_EQ(PendingTimerCount(), 1u);
    Advance(100);
    EXPECT_EQ(Expiries, (std::vector<std::string>{"B:1@100"}));
}

TEST_F(SelfTimerTest, TimeUntilTheNextDeadline)
{
    RecordingOwner a("A");
    EXPECT_EQ(MsUntilNextTimer(), -1);
    StartTimer(&a, 800, 1);
    StartTimer(&a, 300, 2);
    EXPECT_EQ(MsUntilNextTimer(), 300);
    Fake.Advance(500);
    EXPECT_EQ(MsUntilNextTimer(), 0);
    StopTimer(2, &a);
    EXPECT_EQ(MsUntilNextTimer(), 300);
}

TEST_F(SelfTimerTest, LoopPassRunsDueTimers)
{
    RecordingOwner a("A");
    StartTimer(&a, 50, 1);
    Fake.Advance(50);
    EventLoop::Get().RunOnce(0);
    EXPECT_EQ(Expiries, (std::vector<std::string>{"A:1@50"}));
}

TEST_F(SelfTimerTest, ThrowingOwnerDoesNotStopTheOthers)
{
    RecordingOwner a("A");
    RecordingOwner b("B");
    a.OnExpiry = [](int) { throw std::runtime_error("boom"); };
    std::vector<std::string> reports;
    EventLoop::Get().SetReporter([&](const std::string& Line) { reports.push_back(Line); });
    StartTimer(&a, 10, 1);
    StartTimer(&b, 10, 1);
    Advance(10);
    EventLoop::Get().SetReporter(nullptr);
    EXPECT_EQ(Expiries, (std::vector<std::string>{"A:1@10", "B:1@10"}));
    EXPECT_EQ(reports, (std::vector<std::string>{"ERROR TimerEvent boom"}));
}

// On the real clock the timer table's timerfd makes the loop's descriptor readable, which is
// all a GUI loop that drives the reactor watches.
TEST(SelfTimer, DeadlineWakesTheLoopDescriptor)
{
    Expiries.clear();
    RecordingOwner a("A");
    StartTimer(&a, 20, 1);
    pollfd watch{EventLoop::Get().Fd(), POLLIN, 0};
    // Anything else that wakes it only costs a further try.
    for (int tries = 0; tries < 5 && Expiries.empty(); ++tries) {
        ASSERT_EQ(poll(&watch, 1, 2000), 1);
        EventLoop::Get().RunOnce(0);
    }
    EXPECT_EQ(Expiries.size(), 1u);
}

} // namespace
