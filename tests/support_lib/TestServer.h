#pragma once
// Test harness: a real server in a fresh program directory, and line-oriented IRC clients.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A fresh program directory with the test fixtures (language file, Rank.cfg, MOTD.txt).
// Kept when the test failed, so its log can be read; removed otherwise.
class TestDir
{
public:
    TestDir();
    ~TestDir();
    TestDir(const TestDir&) = delete;
    TestDir& operator=(const TestDir&) = delete;
    const std::string& Path() const { return Dir; }
    std::string File(std::string_view Name) const { return Dir + "/" + std::string(Name); }
    std::string Read(std::string_view Name) const;
    void Write(std::string_view Name, std::string_view Content) const;

private:
    std::string Dir;
};

// Writes global value slots into the program directory's database before the server starts.
void WriteSettings(const std::string& Dir, const std::map<int, std::string>& Slots);

// The real KorvaneIRCD binary, started with --dir, --port and --no-tray.
class TestServer
{
public:
    // RequestedPort is passed with --port; 0 picks a random one.
    explicit TestServer(const std::map<int, std::string>& Slots = {}, int RequestedPort = 0);
    ~TestServer(); // SIGTERM, then waits
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    // Starts the server again in the same directory (after Stop or Kill).
    void Start();
    // Orderly end (SIGTERM); the exit status.
    int Stop();
    // SIGKILL, no chance to clean up.
    void Kill();
    // Sends a signal to the running server (SIGHUP reloads its files).
    void Signal(int Number);
    bool Running() const { return Pid > 0; }

    int Port() const { return ServerPort; }
    TestDir& Dir() { return *Directory; }
    std::string LoginLine(int Index) const; // 0-based line of Login.dat

private:
    std::unique_ptr<TestDir> Directory;
    int Pid = -1;
    int ServerPort = 0;
    int Requested = 0;
};

class TestClient
{
public:
    TestClient() = default;
    TestClient(std::string_view Nick, int Port);
    explicit TestClient(int Port) { Connect(Port); }
    ~TestClient();
    TestClient(TestClient&& Other) noexcept;
    TestClient& operator=(TestClient&& Other) noexcept;

    // For an in-process server: called while waiting, so the server's loop keeps running.
    std::function<void()> Pump;

    bool Connect(int Port);
    void Send(std::string_view Line); // appends CR LF
    void SendRaw(std::string_view Bytes);
    void Close();

    // The next line (without CR LF), or nothing when none arrives within the timeout or the
    // server closed the connection.
    std::optional<std::string> ReadLine(int TimeoutMs = 2000);
    // Reads lines until one contains Text; records a test failure and returns "" when none does.
    std::string Expect(std::string_view Text, int TimeoutMs = 2000);
    // The very next line must contain Text.
    std::string ExpectNext(std::string_view Text, int TimeoutMs = 2000);
    // Lines up to the answer of a PING barrier (the barrier's PONG not included).
    std::vector<std::string> Sync(int TimeoutMs = 2000);
    // True when the server closes the connection within the timeout; lines read meanwhile go to Seen.
    bool WaitClosed(int TimeoutMs = 2000);
    // NICK and USER, answers the registration PING, waits for the end of the MOTD.
    bool Register(std::string_view Nick, std::string_view User = "user");

    std::vector<std::string> Seen; // every line read, in order
    std::string LastPingToken;     // of the last PING the server sent
    bool Closed() const { return Fd < 0 || PeerClosed; }

private:
    int Fd = -1;
    bool PeerClosed = false;
    int SyncCount = 0;
    std::string Buffer;
};

// A text of the fixture language, as the server sends it (the same file, loaded here).
std::string Text(int Index, std::string_view P1 = "", std::string_view P2 = "");

// Registers a client on the port; fails the test when registration does not complete.
TestClient Registered(std::string_view Nick, int Port);

// A fixture with one real server per test and registered clients on demand.
class ServerTest : public ::testing::Test
{
protected:
    TestServer Server;
    TestClient Client(std::string_view Nick) { return Registered(Nick, Server.Port()); }
};
