// The server killed at random moments while users register nicks: the database must always
// be consistent, and every registration the users were told about must be in it.

#include "server/core/Langw.h"
#include "server/core/TextIds.h"
#include "server/db/KvDataBase.h"
#include "support_lib/TestServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <set>
#include <thread>

namespace
{

int RunKdbCheck(const std::string& File, const std::string& Output)
{
    const std::string command = std::string(KORV_KDBCHECK_BIN) + " " + File + " > " + Output + " 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(CrashSafety, KilledServerLeavesEveryAcknowledgedRegistration)
{
    LoadLanguages(std::string(KORV_FIXTURES_DIR) + "/");
    const std::string registered = GetLangText(TextNickRegistered, 0);
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);

    TestServer server;
    std::set<std::string> acknowledged;
    int next = 0;
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        if (round > 0) server.Start();
        TestClient client = Registered("Round" + std::to_string(round), server.Port());
        // Many registrations in flight at once, then the kill at a random moment among them.
        std::string burst;
        for (int i = 0; i < 150; ++i) {
            const std::string nick = "Nick" + std::to_string(next++);
            burst += "NICK " + nick + "\r\nREG secret" + std::to_string(i) + " " + nick + "@example.com\r\n";
        }
        client.SendRaw(burst);
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution<int>(5, 120)(random)));
        server.Kill();
        // What the server sent before it died is still in our socket: each NICK line names the
        // current nick, each registration notice acknowledges it.
        std::string current;
        while (std::optional<std::string> line = client.ReadLine(500)) {
            const std::size_t nickAt = line->find(" NICK ");
            if (nickAt != std::string::npos) current = line->substr(nickAt + 6);
            if (line->find("NickServ!") != std::string::npos && line->find(registered) != std::string::npos)
                acknowledged.insert(current);
        }
        const std::string file = server.Dir().File("KorvaneIRCD.kdb");
        EXPECT_EQ(RunKdbCheck(file, server.Dir().File("kdbcheck.out")), 0)
            << server.Dir().Read("kdbcheck.out");
        KvDataBase db;
        ASSERT_TRUE(db.OpenDataBase(file)) << db.OpenFailureText;
        for (const std::string& nick : acknowledged)
            EXPECT_GT(db.GetUserID(nick), 0) << nick;
        db.CloseDataBase();
    }
    EXPECT_FALSE(acknowledged.empty());
}

} // namespace
