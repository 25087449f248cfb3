#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

#include "DbTestSupport.h"
#include "server/db/GlobalSlots.h"
#include "server/db/ItemValues.h"
#include "server/db/KDBHelp.h"
#include "server/db/KdbCheck.h"

using namespace Kdb;

namespace
{

bool HasLine(const KdbCheckReport& Report, const std::string& Part)
{
    return std::any_of(Report.Lines.begin(), Report.Lines.end(),
                       [&](const std::string& Line) { return Line.find(Part) != std::string::npos; });
}

// Writes the lines of a memo: a header line and the text, as MemoServ lays them out.
void AddMemo(KvDataBase& DB, std::int32_t Item, const std::string& Text)
{
    std::int32_t line = DB.GetSubItem(Item, UserValue::MemoChain);
    if (line < 1) line = NewSubChain(DB, Item, UserValue::MemoChain);
    while (DB.GetNextItem(line) >= 2)
        line = DB.GetNextItem(line);
    for (const std::string& value :
         {std::string("|>TIME:2023-11-14 22:13:20"), std::string("Sender"), Text}) {
        DB.WriteValueByID(line, value);
        line = ExtendChain(DB, line);
    }
}

} // namespace

class KdbCheckTest : public DbTest
{
protected:
    // Three nicks, alice with two memos, a channel with a topic and bans, and a G-line list.
    void MakeSmallFile()
    {
        KvDataBase db;
        Open(db);
        ASSERT_EQ(db.CreateUser("Alice", "pw", "a@example.org", "en"), 0);
        ASSERT_EQ(db.CreateUser("Bob", "pw", "", "en"), 0);
        ASSERT_EQ(db.CreateUser("Cid", "pw", "", "en"), 0);
        AddMemo(db, db.GetUserID("alice"), "hello");
        AddMemo(db, db.GetUserID("alice"), "again");
        ASSERT_EQ(db.CreateChannel("#Lobby", "Alice", "pw"), 0);
        const std::int32_t lobby = db.GetChanID("#lobby");
        const std::int32_t topic = NewSubChain(db, lobby, ChanValue::TopicChain);
        db.WriteValueByID(topic, "the topic");
        ExtendChain(db, topic);
        const std::int32_t bans = NewSubChain(db, lobby, ChanValue::BanChain);
        db.WriteValueByID(bans, "Alice");
        ExtendChain(db, bans);
        const std::int32_t glines = NewSlotChain(db, GlobalSlot::GLineChain);
        db.WriteValueByID(glines, "Oper");
        ExtendChain(db, glines);
    }

    KdbCheckReport CheckCopy(const std::function<void(std::string&)>& Damage)
    {
        std::string image = Image();
        Damage(image);
        const std::string copy = Dir + "/copy.kdb";
        WriteFileBytes(copy, image);
        return CheckDataBaseFile(copy);
    }

    // The position of line v of the item of a nick, read from the file.
    std::int32_t LineOf(const std::string& Nick, int Value)
    {
        KvDataBase db;
        Open(db, Path);
        std::int32_t last = 0;
        return Value == 0 ? db.GetUserID(Nick)
                          : db.GetValPos(db.GetUserID(Nick), static_cast<std::int16_t>(Value), last);
    }
};

TEST_F(KdbCheckTest, FreshFileIsConsistent)
{
    {
        KvDataBase db;
        Open(db);
    }
    const KdbCheckReport report = CheckDataBaseFile(Path);
    EXPECT_EQ(report.ExitStatus, 0) << Joined(report);
    EXPECT_EQ(report.Lines.back(), "result: consistent");
    EXPECT_TRUE(
        HasLine(report, "file: 79872 bytes, 17 blocks (1 user index, 1 channel index, 0 data, 15 free)"))
        << Joined(report);
    EXPECT_TRUE(HasLine(report, "slot 2 (UserIndexBlock): \"10241\"")) << Joined(report);
    EXPECT_FALSE(HasLine(report, "note:")) << Joined(report);
}

TEST_F(KdbCheckTest, BusyFileIsConsistentAndListsItsNames)
{
    KvDataBase db;
    Open(db);
    for (int i = 0; i < 150; ++i)
        ASSERT_EQ(db.CreateUser("User" + std::to_string(i), "pw", "", "en"), 0);
    for (int i = 0; i < 70; ++i)
        ASSERT_EQ(db.CreateChannel("#Chan" + std::to_string(i), "User1", ""), 0);
    for (int i = 0; i < 150; i += 3) {
        const std::int32_t id = db.GetUserID("user" + std::to_string(i));
        AddMemo(db, id, "memo for " + std::to_string(i));
        ASSERT_EQ(db.WriteValue(id, UserValue::ServerOpModes, "0"), 0);
        ASSERT_EQ(db.WriteValue(id, 20, "far beyond the usual values"), 0);
    }
    for (int i = 0; i < 70; i += 2) {
        const std::int32_t id = db.GetChanID("#chan" + std::to_string(i));
        std::int32_t topic = NewSubChain(db, id, ChanValue::TopicChain);
        for (int piece = 0; piece < 4; ++piece) {
            db.WriteValueByID(topic, "piece " + std::to_string(piece));
            topic = ExtendChain(db, topic);
        }
        ASSERT_GE(NewSubChain(db, id, ChanValue::MemberChain), 2);
        TruncateChain(db, db.GetSubItem(id, ChanValue::TopicChain));
    }
    for (int i = 0; i < 150; i += 4)
        ASSERT_EQ(db.RemoveUser("user" + std::to_string(i)), 0);
    for (int i = 0; i < 70; i += 5)
        ASSERT_EQ(db.RemoveChan("#chan" + std::to_string(i)), 0);
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(db.CreateUser("Late" + std::to_string(i), "pw", "", "en"), 0);
    AddMemo(db, db.GetUserID("user3"), "one more");
    ASSERT_TRUE(db.SetGlobalVal(GlobalSlot::Logging, "2"));

    const KdbCheckReport report = CheckDataBaseFile(Path); // while the server holds the file
    EXPECT_EQ(report.ExitStatus, 0) << Joined(report);
    EXPECT_FALSE(HasLine(report, "note:")) << Joined(report);
    EXPECT_TRUE(HasLine(report, "slot 24 (Logging): \"2\"")) << Joined(report);
    EXPECT_TRUE(HasLine(report, "slot 0 (UserCount): \"" + std::to_string(db.UserCount) + "\""));
    for (int i = 0; i < 150; ++i) {
        const std::string nick = "user" + std::to_string(i);
        const std::string listed = "nick " + nick + " item " + std::to_string(db.GetUserID(nick));
        EXPECT_EQ(std::count(report.Lines.begin(), report.Lines.end(), listed), i % 4 == 0 ? 0 : 1) << listed;
    }
    EXPECT_TRUE(HasLine(report, "channel #chan1 item " + std::to_string(db.GetChanID("#chan1"))));
}

TEST_F(KdbCheckTest, ServerPasswordIsNotShown)
{
    {
        KvDataBase db;
        Open(db);
        ASSERT_TRUE(db.SetGlobalVal(GlobalSlot::ServerPassword, "hunter2"));
    }
    const KdbCheckReport report = CheckDataBaseFile(Path);
    EXPECT_TRUE(HasLine(report, "slot 5 (ServerPassword): set"));
    EXPECT_FALSE(HasLine(report, "hunter2"));
}

TEST_F(KdbCheckTest, FindsEachKindOfDamage)
{
    MakeSmallFile();
    const std::int32_t alice = LineOf("alice", 0);
    const std::int32_t alice3 = LineOf("alice", 3);
    const std::int32_t alice5 = LineOf("alice", 5);
    const std::int32_t alice7 = LineOf("alice", 7);
    const std::int32_t bobLast = LineOf("bob", 11);
    const std::int32_t gline = FieldNumber(At(Image(), 32 * 12 + 1, 32));
    std::string freeLine;
    {
        KvDataBase db;
        Open(db);
        freeLine = std::to_string(db.GetNextFreeLine());
    }
    struct DamageCase {
        std::string Name;
        std::function<void(std::string&)> Damage;
        std::string Expected;
    };
    const std::vector<DamageCase> cases = {
        {"index entry to a free line", [&](std::string& f) { Put(f, 10305 + 32, Field(freeLine)); },
         "user index entry \"alice\" at 10305 leads to free line " + freeLine},
        {"item's first line freed", [&](std::string& f) { Put(f, alice, std::string(64, ' ')); },
         "leads to free line " + std::to_string(alice)},
        {"index entry into the channel index", [&](std::string& f) { Put(f, 10305 + 32, Field("14401")); },
         "leads to line 14401, which is not in a data block"},
        {"two chains share a line", [&](std::string& f) { Put(f, bobLast, Field(std::to_string(alice3))); },
         "line " + std::to_string(alice3) + " is reachable from two chains: nick alice and nick bob"},
        {"chain loops", [&](std::string& f) { Put(f, alice5, Field(std::to_string(alice + 64))); },
         "the chain of nick alice loops back to line " + std::to_string(alice + 64)},
        {"chain leaves the file", [&](std::string& f) { Put(f, alice5, Field("99999937")); },
         "leads to position 99999937, outside the file"},
        {"memo chain to a free line", [&](std::string& f) { Put(f, alice7 + 32, Field(freeLine)); },
         "value 7 of nick alice leads to free line " + freeLine},
        {"G-line slot to a free line", [&](std::string& f) { Put(f, 32 * 12 + 1, Field(freeLine)); },
         "slot 12 leads to free line " + freeLine},
        {"G-line chain into an item", [&](std::string& f) { Put(f, gline, Field(std::to_string(alice3))); },
         "is reachable from two chains: nick alice and the G-line list"},
        {"user counter", [&](std::string& f) { Put(f, 1, Field("9")); },
         "inconsistent: slot 0 counts 9 registered nicks but the user index holds 3"},
        {"channel counter", [&](std::string& f) { Put(f, 33, Field("3")); },
         "inconsistent: slot 1 counts 3 registered channels but the channel index holds 1"},
        {"both counters one off",
         [&](std::string& f) {
             Put(f, 1, Field("4"));
             Put(f, 33, Field("0"));
         },
         "inconsistent: slot 1 counts 0 registered channels"},
        {"index loops", [&](std::string& f) { Put(f, 10241, Field("10241")); },
         "the user index loops back to block 10241"},
        {"index leaves the file", [&](std::string& f) { Put(f, 14337, Field("1058817")); },
         "links to block 1058817, outside the file"},
        {"index link into a data block", [&](std::string& f) { Put(f, 14337, Field("18433")); },
         "links to block 18433, which is not a block titled \"Index (Channels)\" in use"},
        {"slot 2 lost", [&](std::string& f) { Put(f, 65, Field("")); },
         "slot 2 does not hold the first block of the user index"},
        {"key registered twice", [&](std::string& f) { Put(f, 10305 + 64 * 5, At(f, 10305, 64)); },
         "nick \"alice\" is registered twice (entries 10305 and 10625)"},
        {"key not lower case", [&](std::string& f) { Put(f, 10305, "Alice"); },
         "user index entry \"Alice\" at 10305 is not in lower case"},
        {"unknown block title", [&](std::string& f) { Put(f, 75777, Field("# x") + Field("Stuff")); },
         "block 75777 is in use but has the unknown title \"Stuff\""},
        {"file cut short", [&](std::string& f) { f.resize(50000); },
         "the file is 50000 bytes long; a record database has at least 79872"},
    };
    for (const DamageCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const KdbCheckReport report = CheckCopy(c.Damage);
        EXPECT_EQ(report.ExitStatus, 1) << Joined(report);
        EXPECT_TRUE(HasLine(report, c.Expected)) << Joined(report);
    }
}

TEST_F(KdbCheckTest, LeftoversOfACrashAreOnlyNoted)
{
    MakeSmallFile();
    const std::int32_t freeLine = [&] {
        KvDataBase db;
        Open(db);
        return db.GetNextFreeLine();
    }();
    struct LeftoverCase {
        std::string Name;
        std::function<void(std::string&)> Leave;
        std::string Expected;
    };
    const std::vector<LeftoverCase> cases = {
        {"line marked, never linked", [&](std::string& f) { Put(f, freeLine, Field("1")); },
         "note: 1 line(s) in use belong to no chain"},
        {"counter behind by one", [&](std::string& f) { Put(f, 1, Field("2")); },
         "note: slot 0 counts 2 registered nicks but the user index holds 3"},
        {"counter ahead by one", [&](std::string& f) { Put(f, 33, Field("2")); },
         "note: slot 1 counts 2 registered channels but the channel index holds 1"},
        {"overflow block never linked",
         [&](std::string& f) { Put(f, 75777, Field("# x") + Field("Index (Users)")); },
         "note: index block 75777 belongs to no index chain"},
    };
    for (const LeftoverCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const KdbCheckReport report = CheckCopy(c.Leave);
        EXPECT_EQ(report.ExitStatus, 0) << Joined(report);
        EXPECT_TRUE(HasLine(report, c.Expected)) << Joined(report);
    }
}

TEST_F(KdbCheckTest, UnreadableAndEmptyFiles)
{
    const KdbCheckReport missing = CheckDataBaseFile(Dir + "/none.kdb");
    EXPECT_EQ(missing.ExitStatus, 2);
    EXPECT_TRUE(HasLine(missing, "cannot open")) << Joined(missing);

    const KdbCheckReport directory = CheckDataBaseFile(Dir);
    EXPECT_EQ(directory.ExitStatus, 2) << Joined(directory);

    WriteFileBytes(Path, "");
    const KdbCheckReport empty = CheckDataBaseFile(Path);
    EXPECT_EQ(empty.ExitStatus, 0) << Joined(empty);
    EXPECT_TRUE(HasLine(empty, "note: the file is empty"));
}

TEST_F(KdbCheckTest, ToolReportsThroughItsExitStatus)
{
    MakeSmallFile();
    const std::string tool = std::string(KORV_BUILD_DIR) + "/kdbcheck";
    if (access(tool.c_str(), X_OK) != 0) GTEST_SKIP() << "kdbcheck is not built";
    const std::string quiet = " > " + Dir + "/out.txt 2>&1";
    EXPECT_EQ(WEXITSTATUS(std::system((tool + " " + Path + quiet).c_str())), 0);
    EXPECT_NE(ReadFileBytes(Dir + "/out.txt").find("nick alice item 18497"), std::string::npos);
    std::string image = Image();
    Put(image, 1, Field("9"));
    WriteFileBytes(Dir + "/bad.kdb", image);
    EXPECT_EQ(WEXITSTATUS(std::system((tool + " " + Dir + "/bad.kdb" + quiet).c_str())), 1);
    EXPECT_EQ(WEXITSTATUS(std::system((tool + " " + Dir + "/none.kdb" + quiet).c_str())), 2);
    EXPECT_EQ(WEXITSTATUS(std::system((tool + quiet).c_str())), 2);
}
