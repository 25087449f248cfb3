#include "support_lib/TestServer.h"

#include "server/core/Langw.h"
#include "server/db/KvDataBase.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <random>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace
{

std::int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void CopyFolder(const fs::path& From, const fs::path& To)
{
    std::error_code ec;
    if (!fs::is_directory(From, ec)) return;
    for (const auto& entry : fs::directory_iterator(From))
        if (entry.is_regular_file())
            fs::copy_file(entry.path(), To / entry.path().filename(), fs::copy_options::overwrite_existing,
                          ec);
}

int PickPort()
{
    // Spread over a wide range so parallel test programs rarely meet; the server moves on to
    // the next free port anyway and says in Login.dat which one it took.
    static std::mt19937 random{std::random_device{}()};
    return std::uniform_int_distribution<int>(20000, 59000)(random);
}

} // namespace

// ---- TestDir --------------------------------------------------------------------------------

TestDir::TestDir()
{
    std::string pattern = (fs::temp_directory_path() / "korvane-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    Dir = pattern;
    CopyFolder(KORV_FIXTURES_DIR, Dir);
}

TestDir::~TestDir()
{
    if (::testing::Test::HasFailure()) {
        std::cerr << "[ kept ] test directory " << Dir << " (log: " << Dir << "/KorvaneIRCD.log)\n";
        return;
    }
    std::error_code ec;
    fs::remove_all(Dir, ec);
}

std::string TestDir::Read(std::string_view Name) const
{
    std::ifstream file(File(Name), std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void TestDir::Write(std::string_view Name, std::string_view Content) const
{
    std::ofstream file(File(Name), std::ios::binary | std::ios::trunc);
    file.write(Content.data(), static_cast<std::streamsize>(Content.size()));
}

void WriteSettings(const std::string& Dir, const std::map<int, std::string>& Slots)
{
    if (Slots.empty()) return;
    KvDataBase db;
    ASSERT_TRUE(db.OpenDataBase(Dir + "/KorvaneIRCD.kdb")) << db.OpenFailureText;
    for (const auto& [slot, value] : Slots)
        db.SetGlobalVal(slot, value);
    db.CloseDataBase();
}

// ---- TestServer -----------------------------------------------------------------------------

TestServer::TestServer(const std::map<int, std::string>& Slots, int RequestedPort)
    : Directory(std::make_unique<TestDir>()), Requested(RequestedPort)
{
    WriteSettings(Directory->Path(), Slots);
    Start();
}

TestServer::~TestServer()
{
    if (Pid > 0) Stop();
}

void TestServer::Start()
{
    const std::string loginPath = Directory->File("Login.dat");
    std::error_code ec;
    fs::remove(loginPath, ec);
    const std::string port = std::to_string(Requested > 0 ? Requested : PickPort());
    const std::string out = Directory->File("server.out");
    Pid = fork();
    if (Pid == 0) {
        const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        execl(KORV_SERVER_BIN, KORV_SERVER_BIN, "--dir", Directory->Path().c_str(), "--port", port.c_str(),
              "--no-tray", static_cast<char*>(nullptr));
        _exit(127);
    }
    // The server writes Login.dat once it listens; its second line is the port it took.
    const std::int64_t deadline = NowMs() + 15000;
    while (NowMs() < deadline) {
        std::ifstream login(loginPath, std::ios::binary);
        std::string host, portLine;
        if (login && std::getline(login, host) && std::getline(login, portLine)) {
            ServerPort = std::atoi(portLine.c_str());
            if (ServerPort > 0) return;
        }
        int status = 0;
        if (waitpid(Pid, &status, WNOHANG) == Pid) {
            Pid = -1;
            FAIL() << "server exited at start: " << Directory->Read("server.out");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    FAIL() << "server did not write Login.dat";
}

int TestServer::Stop()
{
    if (Pid <= 0) return -1;
    kill(Pid, SIGTERM);
    int status = 0;
    const std::int64_t deadline = NowMs() + 10000;
    while (waitpid(Pid, &status, WNOHANG) == 0) {
        if (NowMs() > deadline) {
            kill(Pid, SIGKILL);
            waitpid(Pid, &status, 0);
            ADD_FAILURE() << "server did not end on SIGTERM";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    Pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void TestServer::Kill()
{
    if (Pid <= 0) return;
    kill(Pid, SIGKILL);
    int status = 0;
    waitpid(Pid, &status, 0);
    Pid = -1;
}

void TestServer::Signal(int Number)
{
    if (Pid > 0) kill(Pid, Number);
}

std::string TestServer::LoginLine(int Index) const
{
    std::istringstream text(Directory->Read("Login.dat"));
    std::string line;
    for (int i = 0; i <= Index; ++i)
        if (!std::getline(text, line)) return "";
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

// ---- TestClient -----------------------------------------------------------------------------

TestClient::TestClient(std::string_view Nick, int Port)
{
    if (Connect(Port)) Register(Nick);
}

TestClient::~TestClient()
{
    Close();
}

TestClient::TestClient(TestClient&& Other) noexcept
{
    *this = std::move(Other);
}

TestClient& TestClient::operator=(TestClient&& Other) noexcept
{
    if (this == &Other) return *this;
    Close();
    Fd = std::exchange(Other.Fd, -1);
    PeerClosed = Other.PeerClosed;
    SyncCount = Other.SyncCount;
    Buffer = std::move(Other.Buffer);
    Seen = std::move(Other.Seen);
    LastPingToken = std::move(Other.LastPingToken);
    Pump = std::move(Other.Pump);
    return *this;
}

bool TestClient::Connect(int Port)
{
    Close();
    Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(Port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int flags = fcntl(Fd, F_GETFL);
    fcntl(Fd, F_SETFL, flags | O_NONBLOCK);
    if (connect(Fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 && errno != EINPROGRESS) {
        ADD_FAILURE() << "connect failed: " << std::strerror(errno);
        Close();
        return false;
    }
    // An in-process server must run its loop to accept us, so wait for the connect by polling.
    const std::int64_t deadline = NowMs() + 3000;
    while (NowMs() < deadline) {
        if (Pump) Pump();
        pollfd p{Fd, POLLOUT, 0};
        if (poll(&p, 1, Pump ? 1 : 100) > 0) {
            int error = 0;
            socklen_t length = sizeof(error);
            getsockopt(Fd, SOL_SOCKET, SO_ERROR, &error, &length);
            if (error == 0) return true;
            ADD_FAILURE() << "connect failed: " << std::strerror(error);
            Close();
            return false;
        }
    }
    ADD_FAILURE() << "connect timed out";
    Close();
    return false;
}

void TestClient::SendRaw(std::string_view Bytes)
{
    while (!Bytes.empty() && Fd >= 0) {
        const ssize_t sent = send(Fd, Bytes.data(), Bytes.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            Bytes.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (sent < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (Pump) Pump();
            pollfd p{Fd, POLLOUT, 0};
            poll(&p, 1, Pump ? 1 : 100);
            continue;
        }
        return; // the server closed us; reading will tell
    }
}

void TestClient::Send(std::string_view Line)
{
    std::string bytes(Line);
    bytes += "\r\n";
    SendRaw(bytes);
}

void TestClient::Close()
{
    if (Fd >= 0) close(Fd);
    Fd = -1;
}

std::optional<std::string> TestClient::ReadLine(int TimeoutMs)
{
    const std::int64_t deadline = NowMs() + TimeoutMs;
    for (;;) {
        const std::size_t lineFeed = Buffer.find('\n');
        if (lineFeed != std::string::npos) {
            std::string line = Buffer.substr(0, lineFeed);
            Buffer.erase(0, lineFeed + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            Seen.push_back(line);
            if (line.rfind("PING :", 0) == 0) LastPingToken = line.substr(6);
            return line;
        }
        if (Fd < 0 || PeerClosed) return std::nullopt;
        const std::int64_t left = deadline - NowMs();
        if (left <= 0) return std::nullopt;
        if (Pump) Pump();
        pollfd p{Fd, POLLIN, 0};
        const int ready = poll(&p, 1, Pump ? 1 : static_cast<int>(left));
        if (ready <= 0) continue;
        char chunk[4096];
        const ssize_t got = recv(Fd, chunk, sizeof(chunk), 0);
        if (got > 0) {
            Buffer.append(chunk, static_cast<std::size_t>(got));
        } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
            PeerClosed = true;
        }
    }
}

std::string TestClient::Expect(std::string_view Text, int TimeoutMs)
{
    const std::int64_t deadline = NowMs() + TimeoutMs;
    for (;;) {
        const int left = static_cast<int>(deadline - NowMs());
        std::optional<std::string> line = ReadLine(std::max(left, 0));
        if (!line) break;
        if (line->find(Text) != std::string::npos) return *line;
    }
    std::string seen;
    for (std::size_t i = Seen.size() > 12 ? Seen.size() - 12 : 0; i < Seen.size(); ++i)
        seen += "\n  " + Seen[i];
    ADD_FAILURE() << "no line containing \"" << Text << "\"" << (PeerClosed ? " (connection closed)" : "")
                  << "; last lines:" << seen;
    return "";
}

std::string TestClient::ExpectNext(std::string_view Text, int TimeoutMs)
{
    std::optional<std::string> line = ReadLine(TimeoutMs);
    if (line && line->find(Text) != std::string::npos) return *line;
    ADD_FAILURE() << "expected next line containing \"" << Text << "\", got "
                  << (line ? "\"" + *line + "\"" : std::string(PeerClosed ? "a close" : "nothing"));
    return line.value_or("");
}

std::vector<std::string> TestClient::Sync(int TimeoutMs)
{
    const std::string token = "sync-" + std::to_string(++SyncCount);
    Send("PING :" + token);
    std::vector<std::string> lines;
    const std::int64_t deadline = NowMs() + TimeoutMs;
    for (;;) {
        const int left = static_cast<int>(deadline - NowMs());
        std::optional<std::string> line = ReadLine(std::max(left, 0));
        if (!line) {
            ADD_FAILURE() << "no answer to the PING barrier " << token;
            return lines;
        }
        if (line->find(" PONG ") != std::string::npos && line->find(":" + token) != std::string::npos)
            return lines;
        lines.push_back(*line);
    }
}

bool TestClient::WaitClosed(int TimeoutMs)
{
    const std::int64_t deadline = NowMs() + TimeoutMs;
    while (!PeerClosed && NowMs() < deadline)
        ReadLine(static_cast<int>(std::max<std::int64_t>(deadline - NowMs(), 0)));
    return PeerClosed;
}

bool TestClient::Register(std::string_view Nick, std::string_view User)
{
    Send("NICK " + std::string(Nick));
    Send("USER " + std::string(User) + " 0 * :Real " + std::string(Nick));
    const std::string ping = Expect("PING :");
    if (ping.empty()) return false;
    Send("PONG :" + LastPingToken);
    for (;;) {
        std::optional<std::string> line = ReadLine();
        if (!line) {
            ADD_FAILURE() << "registration of " << Nick << " did not end with the MOTD";
            return false;
        }
        if (line->find(" 376 ") != std::string::npos || line->find(" 422 ") != std::string::npos) break;
    }
    // The mode line and the version request follow the MOTD; a barrier takes them in.
    Sync();
    return true;
}

TestClient Registered(std::string_view Nick, int Port)
{
    TestClient client;
    if (client.Connect(Port)) client.Register(Nick);
    return client;
}

std::string Text(int Index, std::string_view P1, std::string_view P2)
{
    static const bool loaded = [] {
        LoadLanguages(std::string(KORV_FIXTURES_DIR) + "/");
        return true;
    }();
    (void)loaded;
    return GetLangText(Index, 0, P1, P2);
}
