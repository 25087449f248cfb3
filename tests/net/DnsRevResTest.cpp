#include "net/DnsRevRes.h"

#include "net/LoopDriver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{

// Every answer any client got, in the order they came: client name "=" host name.
std::vector<std::string> Answers;

struct Client final : LookupClient {
    Client(std::string ClientName, std::string Address)
        : Name(std::move(ClientName)), HostIP(std::move(Address))
    {
    }
    std::string Name;
    std::string HostIP;
    std::function<void()> OnAnswer; // runs inside DnsResEvent
    const std::string& GetHostIP() const override { return HostIP; }
    void DnsResEvent(const std::string& RemoteHostName) override
    {
        Answers.push_back(Name + "=" + RemoteHostName);
        if (OnAnswer) OnAnswer();
    }
};

// A resolver the test controls: it notes every address it is asked for and, while its gate is
// shut, keeps the worker inside the call, as a slow name server would.
class GatedResolver
{
public:
    std::map<std::string, std::string> Names;

    std::string Resolve(const std::string& Address)
    {
        std::unique_lock<std::mutex> lock(Lock);
        Asked.push_back(Address);
        Changed.notify_all();
        Changed.wait(lock, [this] { return Open; });
        if (Address == "throws") throw std::runtime_error("resolver failed");
        const auto found = Names.find(Address);
        return found == Names.end() ? "" : found->second;
    }
    void Shut()
    {
        const std::lock_guard<std::mutex> guard(Lock);
        Open = false;
    }
    void Release()
    {
        {
            const std::lock_guard<std::mutex> guard(Lock);
            Open = true;
        }
        Changed.notify_all();
    }
    // Waits (bounded) until the worker has asked for Count addresses.
    bool WaitAsked(std::size_t Count)
    {
        std::unique_lock<std::mutex> lock(Lock);
        return Changed.wait_for(lock, std::chrono::seconds(2), [&] { return Asked.size() >= Count; });
    }
    std::vector<std::string> AskedSoFar()
    {
        const std::lock_guard<std::mutex> guard(Lock);
        return Asked;
    }

private:
    std::mutex Lock;
    std::condition_variable Changed;
    bool Open = true;
    std::vector<std::string> Asked;
};

class DnsRevResTest : public ::testing::Test
{
protected:
    GatedResolver Resolver;

    void SetUp() override
    {
        Answers.clear();
        Resolver.Names = {{"10.0.0.1", "a.example"}, {"10.0.0.2", "b.example"}, {"10.0.0.3", "c.example"}};
        SetReverseResolver([this](const std::string& Address) { return Resolver.Resolve(Address); });
        StartLookupService();
    }
    void TearDown() override
    {
        Resolver.Release(); // the worker must come out of the call to be joined
        ReleaseLookupService();
        SetReverseResolver(nullptr);
    }
};

TEST_F(DnsRevResTest, AnswersComeInQueueOrder)
{
    Client a("A", "10.0.0.1");
    Client b("B", "10.0.0.2");
    Client nameless("N", "10.9.9.9");
    Client c("C", "10.0.0.3");
    QueueLookup(&a);
    QueueLookup(&b);
    QueueLookup(&nameless);
    QueueLookup(&c);
    ASSERT_TRUE(RunLoopUntil([] { return Answers.size() == 4; }));
    EXPECT_EQ(Answers, (std::vector<std::string>{"A=a.example", "B=b.example", "N=", "C=c.example"}));
    EXPECT_EQ(Resolver.AskedSoFar(),
              (std::vector<std::string>{"10.0.0.1", "10.0.0.2", "10.9.9.9", "10.0.0.3"}));
}

TEST_F(DnsRevResTest, The129thWaitingGetsNothingAtOnce)
{
    Resolver.Shut();
    std::deque<Client> clients;
    for (int i = 0; i < 129; ++i) {
        const std::string address = "10.1.0." + std::to_string(i);
        Resolver.Names[address] = "host" + std::to_string(i);
        clients.emplace_back("C" + std::to_string(i), address);
    }
    for (int i = 0; i < 128; ++i)
        QueueLookup(&clients[i]);
    EXPECT_TRUE(Answers.empty());
    QueueLookup(&clients[128]);
    EXPECT_EQ(Answers, (std::vector<std::string>{"C128="}));
    Resolver.Release();
    ASSERT_TRUE(RunLoopUntil([] { return Answers.size() == 129; }));
    for (int i = 0; i < 128; ++i)
        EXPECT_EQ(Answers[i + 1], "C" + std::to_string(i) + "=host" + std::to_string(i));
    RunLoopFor(20);
    EXPECT_EQ(Answers.size(), 129u);
}

TEST_F(DnsRevResTest, CancelledWhileItsLookupRunsNeverHearsAndTheNextWaits)
{
    Resolver.Shut();
    Client a("A", "10.0.0.1");
    Client b("B", "10.0.0.2");
    QueueLookup(&a);
    QueueLookup(&b);
    ASSERT_TRUE(Resolver.WaitAsked(1));
    CancelLookup(&a);
    RunLoopFor(30);
    EXPECT_EQ(Resolver.AskedSoFar(), (std::vector<std::string>{"10.0.0.1"}));
    Resolver.Release();
    ASSERT_TRUE(RunLoopUntil([] { return !Answers.empty(); }));
    RunLoopFor(20);
    // B receives its own name, not the one that came back for A.
    EXPECT_EQ(Answers, (std::vector<std::string>{"B=b.example"}));
    EXPECT_EQ(Resolver.AskedSoFar(), (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));
}

TEST_F(DnsRevResTest, QueuedAfterTheCancelledHeadWaitsForItsLookup)
{
    Resolver.Shut();
    Client a("A", "10.0.0.1");
    Client c("C", "10.0.0.3");
    QueueLookup(&a);
    ASSERT_TRUE(Resolver.WaitAsked(1));
    CancelLookup(&a); // the queue is empty, but A's lookup still runs
    QueueLookup(&c);
    RunLoopFor(30);
    EXPECT_EQ(Resolver.AskedSoFar(), (std::vector<std::string>{"10.0.0.1"}));
    EXPECT_TRUE(Answers.empty());
    Resolver.Release();
    ASSERT_TRUE(RunLoopUntil([] { return !Answers.empty(); }));
    RunLoopFor(20);
    EXPECT_EQ(Answers, (std::vector<std::string>{"C=c.example"}));
}

TEST_F(DnsRevResTest, CancellingAWaitingClientLeavesTheOthers)
{
    Resolver.Shut();
    Client a("A", "10.0.0.1");
    Client b("B", "10.0.0.2");
    Client c("C", "10.0.0.3");
    Client stranger("S", "10.0.0.4");
    QueueLookup(&a);
    QueueLookup(&b);
    QueueLookup(&c);
    CancelLookup(&b);
    CancelLookup(&stranger); // never queued: nothing happens
    Resolver.Release();
    ASSERT_TRUE(RunLoopUntil([] { return Answers.size() == 2; }));
    RunLoopFor(20);
    EXPECT_EQ(Answers, (std::vector<std::string>{"A=a.example", "C=c.example"}));
}

TEST_F(DnsRevResTest, FailedLookupGivesNoName)
{
    Client broken("F", "throws");
    Client after("A", "10.0.0.1");
    QueueLookup(&broken);
    QueueLookup(&after);
    ASSERT_TRUE(RunLoopUntil([] { return Answers.size() == 2; }));
    EXPECT_EQ(Answers, (std::vector<std::string>{"F=", "A=a.example"}));
}

TEST_F(DnsRevResTest, OverlongNameIsCutTo255)
{
    Resolver.Names["10.0.0.9"] = std::string(300, 'x');
    Client a("A", "10.0.0.9");
    QueueLookup(&a);
    ASSERT_TRUE(RunLoopUntil([] { return !Answers.empty(); }));
    EXPECT_EQ(Answers.front(), "A=" + std::string(255, 'x'));
}

TEST_F(DnsRevResTest, HandlerMayQueueAndCancel)
{
    Client a("A", "10.0.0.1");
    Client b("B", "10.0.0.2");
    Client c("C", "10.0.0.3");
    bool requeued = false;
    // A asks again once; B, when answered, withdraws C.
    a.OnAnswer = [&] {
        if (!requeued) QueueLookup(&a);
        requeued = true;
    };
    b.OnAnswer = [&] { CancelLookup(&c); };
    QueueLookup(&a);
    QueueLookup(&b);
    QueueLookup(&c);
    ASSERT_TRUE(RunLoopUntil([] { return Answers.size() == 3; }));
    RunLoopFor(20);
    EXPECT_EQ(Answers, (std::vector<std::string>{"A=a.example", "B=b.example", "A=a.example"}));
}

TEST_F(DnsRevResTest, ThrowingClientDoesNotStopTheQueue)
{
    Client a("A", "10.0.0.1");
    Client b("B", "10.0.0.2");
    a.OnAnswer = [] { throw std::runtime_error("client failed"); };
    std::vector<std::string> reports;
    EventLoop::Get().SetReporter([&](const std::string& Line) { reports.push_back(Line); });
    QueueLookup(&a);
    QueueLookup(&b);
    const bool answered = RunLoopUntil([] { return Answers.size() == 2; });
    EventLoop::Get().SetReporter(nullptr);
    ASSERT_TRUE(answered);
    EXPECT_EQ(Answers, (std::vector<std::string>{"A=a.example", "B=b.example"}));
    EXPECT_EQ(reports, (std::vector<std::string>{"ERROR DnsResEvent client failed"}));
}

TEST_F(DnsRevResTest, UseIsCounted)
{
    StartLookupService();
    ReleaseLookupService(); // one user is left: the service goes on
    Client a("A", "10.0.0.1");
    QueueLookup(&a);
    ASSERT_TRUE(RunLoopUntil([] { return !Answers.empty(); }));
    EXPECT_EQ(Answers, (std::vector<std::string>{"A=a.example"}));
}

TEST_F(DnsRevResTest, StopsAndStartsAgainCleanly)
{
    Client a("A", "10.0.0.1");
    for (int round = 0; round < 20; ++round) {
        ReleaseLookupService();
        StartLookupService();
        QueueLookup(&a);
        ASSERT_TRUE(RunLoopUntil([&] { return Answers.size() == static_cast<std::size_t>(round + 1); }));
    }
    // Released with a lookup still running: the worker is joined once the call returns.
    Resolver.Shut();
    QueueLookup(&a);
    ASSERT_TRUE(Resolver.WaitAsked(21));
    Resolver.Release();
    ReleaseLookupService();
    StartLookupService();
    RunLoopFor(20);
    EXPECT_EQ(Answers.size(), 20u); // the request went with the stopped service
}

TEST(DnsRevRes, DefaultResolverFindsNoNameForNonAddress)
{
    Answers.clear();
    SetReverseResolver(nullptr);
    StartLookupService();
    Client odd("X", "not-an-address");
    QueueLookup(&odd);
    const bool answered = RunLoopUntil([] { return !Answers.empty(); });
    ReleaseLookupService();
    ASSERT_TRUE(answered);
    EXPECT_EQ(Answers, (std::vector<std::string>{"X="}));
}

TEST(DnsRevRes, WithoutTheServiceAnswersNothingAtOnce)
{
    Answers.clear();
    Client a("A", "127.0.0.1");
    QueueLookup(&a);
    EXPECT_EQ(Answers, (std::vector<std::string>{"A="}));
}

} // namespace
