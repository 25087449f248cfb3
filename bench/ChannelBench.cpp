// How a message's cost behaves with many users online: a private-message round trip and a
// channel message to 100 members, measured against the real server binary over loopback while
// a growing crowd of idle users, each in a channel of his own, stays connected.
//
// Build: cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKORV_BENCH=ON -DKORV_TESTS=OFF
//        cmake --build build-bench --target channel_bench && build-bench/channel_bench

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace
{

constexpr int ChannelMembers = 100;
// The server closes a connection after 1024 lines that follow each other within 1.5 s, so a
// speaker is replaced by a fresh one before he gets there.
constexpr int LinesPerSpeaker = 900;

// One IRC client on a blocking loopback socket.
class Client
{
public:
    explicit Client(int Port)
    {
        Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (Fd < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(Port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(Fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
            throw std::runtime_error(std::string("connect: ") + std::strerror(errno));
        const int on = 1;
        setsockopt(Fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    }
    ~Client()
    {
        if (Fd >= 0) close(Fd);
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    void Send(std::string_view Line)
    {
        std::string bytes(Line);
        bytes += "\r\n";
        std::string_view rest = bytes;
        while (!rest.empty()) {
            const ssize_t sent = send(Fd, rest.data(), rest.size(), MSG_NOSIGNAL);
            if (sent <= 0) throw std::runtime_error("send failed");
            rest.remove_prefix(static_cast<std::size_t>(sent));
        }
        ++Lines;
    }

    // Reads until a line contains Text; the line.
    std::string WaitFor(std::string_view Text)
    {
        for (;;) {
            for (std::size_t lineFeed; (lineFeed = Buffer.find('\n')) != std::string::npos;) {
                std::string line = Buffer.substr(0, lineFeed);
                Buffer.erase(0, lineFeed + 1);
                if (line.rfind("PING :", 0) == 0) Send("PONG :" + line.substr(6));
                if (line.find(Text) != std::string::npos) return line;
            }
            pollfd p{Fd, POLLIN, 0};
            if (poll(&p, 1, 10000) <= 0) throw std::runtime_error("no line containing " + std::string(Text));
            char chunk[16384];
            const ssize_t got = recv(Fd, chunk, sizeof(chunk), 0);
            if (got <= 0) throw std::runtime_error("connection closed");
            Buffer.append(chunk, static_cast<std::size_t>(got));
        }
    }

    void StartRegistration(const std::string& NewNick)
    {
        Nick = NewNick;
        Send("NICK " + Nick);
        Send("USER bench 0 * :Bench " + Nick);
    }
    void FinishRegistration()
    {
        const std::string ping = WaitFor("PING :");
        Send("PONG :" + ping.substr(6));
        WaitFor(" 376 ");
        Send("PING :bench-sync");
        WaitFor(":bench-sync");
    }
    void Join(const std::string& Channel)
    {
        Send("JOIN " + Channel);
        WaitFor(" 366 ");
    }

    std::string Nick;
    int Lines = 0;

private:
    int Fd = -1;
    std::string Buffer;
};

// The server binary in a fresh program directory with the shipped data files.
class Server
{
public:
    Server()
    {
        char pattern[] = "/tmp/korvane-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
        Dir = pattern;
        for (const auto& entry : fs::directory_iterator(KORV_DATA_DIR))
            fs::copy_file(entry.path(), Dir / entry.path().filename());
        Pid = fork();
        if (Pid == 0) {
            const std::string dir = Dir.string();
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            execl(KORV_SERVER_BIN, KORV_SERVER_BIN, "--dir", dir.c_str(), "--port", "26667", "--no-tray",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int attempt = 0; attempt < 1500 && Port == 0; ++attempt) {
            std::ifstream login(Dir / "Login.dat");
            std::string host, port;
            if (std::getline(login, host) && std::getline(login, port) && !port.empty())
                Port = std::stoi(port);
            if (Port == 0) usleep(10000);
        }
        if (Port == 0) throw std::runtime_error("the server did not start");
    }
    ~Server()
    {
        kill(Pid, SIGTERM);
        waitpid(Pid, nullptr, 0);
        std::error_code ec;
        fs::remove_all(Dir, ec);
    }
    int Port = 0;

private:
    fs::path Dir;
    pid_t Pid = -1;
};

struct World {
    Server Ircd;
    std::vector<std::unique_ptr<Client>> Idle;
    std::vector<std::unique_ptr<Client>> Members; // receive the channel messages
    std::unique_ptr<Client> Speaker;              // member of #bench, the only one who talks there
    std::unique_ptr<Client> Ann, Bob;             // the private round trip
    int Renewals = 0;

    World()
    {
        for (int i = 0; i < ChannelMembers; ++i) {
            Members.push_back(std::make_unique<Client>(Ircd.Port));
            Members.back()->StartRegistration("m" + std::to_string(i));
        }
        for (auto& member : Members) {
            member->FinishRegistration();
            member->Join("#bench");
        }
        Renew(Speaker, "#bench");
        Renew(Ann, "");
        Renew(Bob, "");
    }

    // Idle users connect in batches, so that a thousand register in a second or two.
    void GrowIdle(std::size_t Count)
    {
        if (Idle.size() >= Count) return;
        const auto start = std::chrono::steady_clock::now();
        while (Idle.size() < Count) {
            const std::size_t first = Idle.size();
            const std::size_t last = std::min(Count, first + 200);
            for (std::size_t i = first; i < last; ++i) {
                Idle.push_back(std::make_unique<Client>(Ircd.Port));
                Idle.back()->StartRegistration("idle" + std::to_string(i));
            }
            for (std::size_t i = first; i < last; ++i) {
                Idle[i]->FinishRegistration();
                Idle[i]->Join("#idle" + std::to_string(i));
            }
        }
        const auto took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::fprintf(stderr, "%zu idle users online, each in a channel of his own (%.1f s to connect)\n",
                     Idle.size(), took);
    }

    // A fresh connection under a new nick, before the old one nears the line flood limit.
    void Renew(std::unique_ptr<Client>& Who, const std::string& Channel)
    {
        const std::string nick = &Who == &Speaker ? "speaker" : (&Who == &Ann ? "ann" : "bob");
        if (Who) {
            Who->Send("QUIT");
            Who.reset();
        }
        Who = std::make_unique<Client>(Ircd.Port);
        Who->StartRegistration(nick + std::to_string(++Renewals));
        Who->FinishRegistration();
        if (!Channel.empty()) Who->Join(Channel);
    }
};

World& TheWorld()
{
    static World world;
    return world;
}

void BM_PrivateRoundTrip(benchmark::State& State)
{
    World& world = TheWorld();
    world.GrowIdle(static_cast<std::size_t>(State.range(0)));
    long n = 0;
    for (auto _ : State) {
        if (world.Ann->Lines > LinesPerSpeaker || world.Bob->Lines > LinesPerSpeaker) {
            State.PauseTiming();
            world.Renew(world.Ann, "");
            world.Renew(world.Bob, "");
            State.ResumeTiming();
        }
        const std::string token = std::to_string(++n);
        world.Ann->Send("PRIVMSG " + world.Bob->Nick + " :ping " + token);
        world.Bob->WaitFor(":ping " + token);
        world.Bob->Send("PRIVMSG " + world.Ann->Nick + " :pong " + token);
        world.Ann->WaitFor(":pong " + token);
    }
    State.counters["idle_users"] = static_cast<double>(world.Idle.size());
}

void BM_ChannelFanOut(benchmark::State& State)
{
    World& world = TheWorld();
    world.GrowIdle(static_cast<std::size_t>(State.range(0)));
    long n = 0;
    for (auto _ : State) {
        if (world.Speaker->Lines > LinesPerSpeaker) {
            State.PauseTiming();
            world.Renew(world.Speaker, "#bench");
            for (auto& member : world.Members)
                member->WaitFor(" JOIN ");
            State.ResumeTiming();
        }
        const std::string token = "fan " + std::to_string(++n);
        world.Speaker->Send("PRIVMSG #bench :" + token);
        for (auto& member : world.Members)
            member->WaitFor(token);
    }
    State.counters["members"] = ChannelMembers;
    State.counters["idle_users"] = static_cast<double>(world.Idle.size());
    State.SetItemsProcessed(State.iterations() * ChannelMembers);
}

// Idle users only ever join, so each crowd size is measured for both before the crowd grows.
BENCHMARK(BM_PrivateRoundTrip)->Arg(0)->UseRealTime();
BENCHMARK(BM_ChannelFanOut)->Arg(0)->UseRealTime();
BENCHMARK(BM_PrivateRoundTrip)->Arg(1000)->UseRealTime();
BENCHMARK(BM_ChannelFanOut)->Arg(1000)->UseRealTime();
BENCHMARK(BM_PrivateRoundTrip)->Arg(3000)->UseRealTime();
BENCHMARK(BM_ChannelFanOut)->Arg(3000)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
