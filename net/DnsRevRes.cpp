#include "net/DnsRevRes.h"

#include "net/EventLoop.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace
{

constexpr std::size_t MaxWaiting = 128;
constexpr std::size_t MaxNameLength = 255;

std::string DefaultReverseResolver(const std::string& Address)
{
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    // A text that is no address has no name either.
    if (inet_aton(Address.c_str(), &peer.sin_addr) == 0) return "";
    char name[NI_MAXHOST] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&peer), sizeof peer, name, sizeof name, nullptr, 0,
                    NI_NAMEREQD) != 0)
        return "";
    return name;
}

void ReportSystemError(const char* Operation)
{
    EventLoop::Get().Report(std::string("ERROR DnsRevRes ") + Operation + " " + std::strerror(errno));
}

// The queue and its flags belong to the loop thread. The worker sees only Request and Answer,
// under Lock, and rings WakeFd when an answer is ready.
class LookupService final : public Watcher
{
public:
    std::deque<LookupClient*> LookupQueue;
    bool LookupCancelled = false;
    int LookupUseCount = 0;
    // A lookup is with the worker (or its answer not yet taken): the head's, or a cancelled
    // client's while LookupCancelled is set.
    bool Busy = false;

    std::mutex Lock;
    std::condition_variable Changed;
    bool HasRequest = false;
    std::string Request;
    bool HasAnswer = false;
    std::string Answer;
    bool QuitWorker = false;
    ReverseResolver Resolver;

    int WakeFd = -1;
    std::thread Worker;

    void Start()
    {
        WakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (WakeFd < 0) {
            ReportSystemError("eventfd");
            return;
        }
        if (!EventLoop::Get().Add(WakeFd, this, EPOLLIN)) {
            CloseWakeFd();
            return;
        }
        try {
            Worker = std::thread([this] { WorkerMain(); });
        } catch (const std::system_error& e) {
            EventLoop::Get().Report(std::string("ERROR DnsRevRes thread ") + e.what());
            CloseWakeFd();
        }
    }

    void Stop()
    {
        if (Worker.joinable()) {
            {
                const std::lock_guard<std::mutex> guard(Lock);
                QuitWorker = true;
            }
            Changed.notify_all();
            Worker.join();
        }
        CloseWakeFd();
        // Nobody is waiting any more once the last user has released the service.
        const std::lock_guard<std::mutex> guard(Lock);
        QuitWorker = false;
        HasRequest = false;
        HasAnswer = false;
        LookupQueue.clear();
        LookupCancelled = false;
        Busy = false;
    }

    void LookupNext()
    {
        if (Busy || LookupQueue.empty()) return;
        if (!Worker.joinable()) {
            // No worker to ask: as for a lookup that could not be started.
            LookupDone("");
            return;
        }
        {
            const std::lock_guard<std::mutex> guard(Lock);
            Request = LookupQueue.front()->GetHostIP();
            HasRequest = true;
        }
        Busy = true;
        Changed.notify_all();
    }

    void LookupDone(const std::string& Name)
    {
        if (LookupQueue.empty()) {
            LookupCancelled = false;
            return;
        }
        if (LookupCancelled) {
            // The answer was for a client that has left; the present head's turn starts now.
            LookupCancelled = false;
            LookupNext();
            return;
        }
        // Taken off the queue before it hears its name: its handler may close it (which
        // cancels) or queue others, and neither may touch this finished request.
        LookupClient* head = LookupQueue.front();
        LookupQueue.pop_front();
        EventLoop::Get().Guarded("DnsResEvent", [&] { head->DnsResEvent(Name); });
        LookupNext();
    }

    void OnReady(std::uint32_t) override
    {
        std::uint64_t count = 0;
        if (read(WakeFd, &count, sizeof count) < 0 && errno != EAGAIN) ReportSystemError("read");
        std::string name;
        {
            const std::lock_guard<std::mutex> guard(Lock);
            if (!HasAnswer) return;
            HasAnswer = false;
            name = std::move(Answer);
        }
        Busy = false;
        LookupDone(name);
    }

private:
    void CloseWakeFd()
    {
        if (WakeFd < 0) return;
        EventLoop::Get().Remove(WakeFd);
        if (close(WakeFd) != 0) ReportSystemError("close");
        WakeFd = -1;
    }

    void WorkerMain()
    {
        std::unique_lock<std::mutex> lock(Lock);
        for (;;) {
            Changed.wait(lock, [this] { return QuitWorker || HasRequest; });
            if (QuitWorker) return;
            const std::string address = std::move(Request);
            HasRequest = false;
            const ReverseResolver resolver = Resolver;
            lock.unlock();
            std::string name;
            try {
                name = resolver ? resolver(address) : DefaultReverseResolver(address);
            } catch (...) {
                name.clear(); // a failed lookup has no name
            }
            if (name.size() > MaxNameLength) name.resize(MaxNameLength);
            lock.lock();
            Answer = std::move(name);
            HasAnswer = true;
            // An eventfd write fails only when its counter would overflow, and then a wake-up
            // is pending anyway; EINTR is the one case worth another try.
            const std::uint64_t one = 1;
            while (write(WakeFd, &one, sizeof one) < 0 && errno == EINTR) {
            }
        }
    }
};

LookupService& Service()
{
    // Never destroyed: a worker still running at exit must not find its state gone.
    static LookupService* const service = new LookupService;
    return *service;
}

} // namespace

void StartLookupService()
{
    LookupService& service = Service();
    if (service.LookupUseCount == 0) service.Start();
    ++service.LookupUseCount;
}

void ReleaseLookupService()
{
    LookupService& service = Service();
    if (service.LookupUseCount <= 0) return;
    --service.LookupUseCount;
    if (service.LookupUseCount == 0) service.Stop();
}

void QueueLookup(LookupClient* Conn)
{
    if (Conn == nullptr) return;
    LookupService& service = Service();
    if (service.LookupQueue.size() >= MaxWaiting) {
        EventLoop::Get().Guarded("DnsResEvent", [&] { Conn->DnsResEvent(""); });
        return;
    }
    service.LookupQueue.push_back(Conn);
    // Starts only when nothing runs: otherwise the head's (or a cancelled) lookup is with the
    // worker and this one waits for its turn.
    service.LookupNext();
}

void CancelLookup(LookupClient* Conn)
{
    LookupService& service = Service();
    auto& queue = service.LookupQueue;
    const auto found = std::find(queue.begin(), queue.end(), Conn);
    if (found == queue.end()) return;
    // The head's lookup is running and cannot be called back: its answer is thrown away.
    if (found == queue.begin() && service.Busy) service.LookupCancelled = true;
    queue.erase(found);
}

void SetReverseResolver(ReverseResolver Resolver)
{
    LookupService& service = Service();
    const std::lock_guard<std::mutex> guard(service.Lock);
    service.Resolver = std::move(Resolver);
}
