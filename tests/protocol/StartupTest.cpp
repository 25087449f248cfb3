// Start-up and end of the real server: port fallback, the login file, the log, signals.

#include "server/core/IRCServer.h"
#include "support_lib/TestServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <regex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

TEST(Startup, LoginFileNamesPortAndKeyAndIsPrivate)
{
    TestServer server;
    const std::string text = server.Dir().Read("Login.dat");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4);
    EXPECT_NE(text.find("\r\n"), std::string::npos);
    EXPECT_EQ(server.LoginLine(1), std::to_string(server.Port()));
    // Two upper-case hexadecimal numbers of at most six digits, no leading zeros.
    EXPECT_TRUE(std::regex_match(server.LoginLine(2), std::regex("([1-9A-F][0-9A-F]{0,5}|0){2}")))
        << server.LoginLine(2);
    EXPECT_EQ(server.LoginLine(3), ""); // no server password
    struct stat info {
    };
    ASSERT_EQ(stat(server.Dir().File("Login.dat").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(Startup, BusyPortMovesToTheNextOne)
{
    // Hold a port, then point the server at it.
    const int holder = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    int port = 0;
    for (int candidate = 41000; candidate < 42000; candidate += 13) {
        address.sin_port = htons(static_cast<std::uint16_t>(candidate));
        if (bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
            listen(holder, 1) == 0) {
            port = candidate;
            break;
        }
    }
    ASSERT_NE(port, 0);
    TestServer server({}, port);
    EXPECT_GT(server.Port(), port);
    EXPECT_LE(server.Port(), port + 10);
    EXPECT_EQ(server.LoginLine(1), std::to_string(server.Port()));
    TestClient ann = Registered("Ann", server.Port());
    EXPECT_FALSE(ann.Closed());
    close(holder);
}

TEST(Startup, SecondServerOnTheSameDirectoryRefusesToRun)
{
    TestServer first;
    const std::string command = std::string(KORV_SERVER_BIN) + " --dir " + first.Dir().Path() +
                                " --port 45000 --no-tray > " + first.Dir().File("second.out") + " 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_NE(WEXITSTATUS(status), 0);
    EXPECT_NE(first.Dir().Read("second.out").find("another server"), std::string::npos);
    // The first one is unharmed.
    TestClient ann = Registered("Ann", first.Port());
    EXPECT_FALSE(ann.Closed());
}

TEST(Startup, SigtermEndsInOrderAndLogsCloses)
{
    TestServer server({{GlobalSlot::Logging, "1"}});
    TestClient ann = Registered("Ann", server.Port());
    EXPECT_EQ(server.Stop(), 0);
    EXPECT_TRUE(ann.WaitClosed());
    const std::string log = server.Dir().Read("KorvaneIRCD.log");
    EXPECT_NE(log.find(" CONNECT 127.0.0.1"), std::string::npos) << log;
    EXPECT_NE(log.find(" CLOSE 127.0.0.1 -1 :"), std::string::npos) << log;
}

TEST(Startup, SighupReloadsTheMessageOfTheDay)
{
    TestServer server;
    server.Dir().Write("MOTD.txt", "Fresh news");
    server.Signal(SIGHUP);
    // The reload runs between two events; a client that registers after it sees the new text.
    for (int attempt = 0; attempt < 50; ++attempt) {
        TestClient ann = Registered("Ann" + std::to_string(attempt), server.Port());
        bool fresh = false;
        for (const std::string& line : ann.Seen)
            if (line.find(" 372 ") != std::string::npos && line.find(":-Fresh news") != std::string::npos)
                fresh = true;
        if (fresh) return;
    }
    ADD_FAILURE() << "the new message of the day never arrived";
}

TEST(Startup, HelpAndVersion)
{
    const std::string out = ::testing::TempDir() + "korvane-help.out";
    EXPECT_EQ(std::system((std::string(KORV_SERVER_BIN) + " --help > " + out).c_str()), 0);
    EXPECT_EQ(std::system((std::string(KORV_SERVER_BIN) + " --version > " + out).c_str()), 0);
    EXPECT_NE(std::system((std::string(KORV_SERVER_BIN) + " --bogus > " + out + " 2>&1").c_str()), 0);
}

} // namespace
